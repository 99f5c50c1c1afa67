#include "handoff/RegisterNames.h"

#include <QFile>
#include <QHash>
#include <QStringList>

#include "app/hintfile.h"

QString RegName_FromHint(const QString& hint) {
    QString name;
    bool gap = false;
    for (QChar c : hint) {
        const ushort u = c.unicode();
        const bool alnum = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (!alnum) {
            gap = true;
            continue;
        }
        if (gap && !name.isEmpty()) name += QLatin1Char('_');
        gap = false;
        name += c.toUpper();
    }
    return name;
}

QMap<int, QString> RegName_ReadHints(const QString& path) {
    QMap<int, QString> hints;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return hints;
    for (const HintEntry& e : HintFile_Read(&file)) {
        // A hint without its "]" keeps the line break; a name never does.
        hints.insert(e.address, QString::fromUtf8(e.hint).trimmed());
    }
    return hints;
}

void RegName_Assign(QVector<NamedRegister>* regs, const QMap<int, QString>& hints, const QStringList& reserved) {
    for (NamedRegister& r : *regs) {
        r.hint = hints.value(r.reg);
        r.name = RegName_FromHint(r.hint);
        if (r.name.isEmpty()) r.name = QString::asprintf("REG_%02X", r.reg & 0xFF);
    }
    // A clash is settled by the addresses, which differ; an appended name may
    // meet yet another one, hence the rounds.
    for (int round = 0; round < 8; ++round) {
        QHash<QString, int> uses;
        for (const QString& name : reserved) uses[name] += 2;
        for (const NamedRegister& r : *regs) ++uses[r.name];
        bool clash = false;
        for (NamedRegister& r : *regs) {
            if (uses.value(r.name) < 2) continue;
            r.name += QString::asprintf("_%02X", r.reg & 0xFF);
            clash = true;
        }
        if (!clash) return;
    }
}

bool RegName_IsCIdentifier(const QString& text) {
    if (text.isEmpty()) return false;
    for (int i = 0; i < text.size(); ++i) {
        const ushort u = text[i].unicode();
        const bool letter = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_';
        const bool digit = u >= '0' && u <= '9';
        if (!letter && !(digit && i > 0)) return false;
    }
    return true;
}
