#include "app/hintfile.h"

#include <QIODevice>

QByteArray Hint_Of(const QByteArray& line) {
    const qsizetype open = line.indexOf('[');
    if (open < 0) return QByteArray();
    const qsizetype close = line.indexOf(']', open + 1);
    return close < 0 ? line.mid(open + 1) : line.mid(open + 1, close - open - 1);
}

QVector<HintEntry> HintFile_Read(QIODevice* in) {
    QVector<HintEntry> entries;
    if (in == nullptr || !in->isReadable()) return entries;
    for (int n = 0; n < kHintLines && !in->atEnd(); ++n) {
        QByteArray text = Hint_Of(in->readLine());
        if (!text.isEmpty()) entries.append(HintEntry{n, std::move(text)});
    }
    return entries;
}
