// Who and what a header or a report speaks of: the tool, the moment, the
// board and chip the values came from.
#pragma once

#include <QDateTime>
#include <QString>

struct HandoffInfo {
    QString toolVersion;  // this build's version
    QDateTime date;       // written in UTC
    QString device;       // DEVICE of system.ini
    int family = -1;      // chip family, -1 when unknown
    QString firmware;     // "v3.2"; empty when no board was asked
    int i2c = 0;          // 8-bit chip address
    QString source;       // "chip", or the register file's name
    QString note;         // the engineer's words (reports)
};

// The version of this build, as the packaging states it.
QString Handoff_ToolVersion();
// The date as headers and reports print it: 2026-03-04 05:06:07 UTC.
QString Handoff_DateText(const QDateTime& date);
