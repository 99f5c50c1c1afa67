// C names for registers, made from their hint.txt text, so that a header,
// a comparison and a report call a register the same.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>
#include <cstdint>

// One register with its value and, where hint.txt has a cell for it, its hint.
struct NamedRegister {
    int reg = 0;
    uint8_t value = 0;
    QString hint;  // as hint.txt gives it (UTF-8), empty without a cell
    QString name;  // C name without prefix: CHIP_ID, REG_2A
};

// The name one hint gives: ASCII letters and digits upper-cased, every run of
// anything else one underscore, none at either end. Empty when nothing is left
// (no hint, only symbols, only non-Latin text).
QString RegName_FromHint(const QString& hint);

// The hints of hint.txt by address (UTF-8); empty when the file is missing.
QMap<int, QString> RegName_ReadHints(const QString& path);

// Gives each register its name: from its hint, REG_RR without a usable one,
// and with _RR appended where two registers would share one. reserved lists
// names the caller's own identifiers use, which a register must not take.
void RegName_Assign(QVector<NamedRegister>* regs, const QMap<int, QString>& hints,
                    const QStringList& reserved = QStringList());

// A C identifier: a letter or underscore, then letters, digits, underscores.
bool RegName_IsCIdentifier(const QString& text);
