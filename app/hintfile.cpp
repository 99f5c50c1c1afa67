#include "app/hintfile.h"

#include <QIODevice>

QByteArray Hint_Of(const QByteArray& line) {
    const qsizetype open = line.indexOf('[');
    if (open < 0) return QByteArray();
    const qsizetype close = line.indexOf(']', open + 1);
    return close < 0 ? line.mid(open + 1) : line.mid(open + 1, close - open - 1);
}

QVector<HintEntry> HintFile_Parse(const QByteArray& content) {
    QVector<HintEntry> entries;
    qsizetype pos = 0;
    for (int n = 0; n < kHintLines && pos < content.size(); ++n) {
        const qsizetype nl = content.indexOf('\n', pos);
        const qsizetype end = nl < 0 ? content.size() : nl + 1;
        QByteArray line = content.mid(pos, end - pos);
        pos = end;
        line.replace('\r', QByteArray());
        QByteArray text = Hint_Of(line);
        if (!text.isEmpty()) entries.append(HintEntry{n, std::move(text)});
    }
    return entries;
}

QVector<HintEntry> HintFile_Read(QIODevice* in) {
    if (in == nullptr || !in->isReadable()) return {};
    QByteArray head;
    for (int n = 0; n < kHintLines && !in->atEnd(); ++n) {
        const QByteArray line = in->readLine();
        head += line;
        // A text-mode device hands out a lone CR at the end as an empty line.
        if (!line.endsWith('\n')) break;
    }
    return HintFile_Parse(head);
}
