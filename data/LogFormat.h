// The log format shared by the writer, the reader, the recorder and the
// command-line tool: "tkeval log 1", a CSV file with two '#' lines on top.
// docs/LOG_FORMAT.md describes it for people.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace LogFormat {
constexpr char kMagic[] = "# tkeval log 1";
constexpr char kColumns[] = "time,t_ms,kind,channel,sbf,ref,sense,diff,offset,touch,note";
constexpr char kSuffix[] = "csv";
}  // namespace LogFormat

// What line 2 of a log says about the recording.
struct LogHeader {
    QDateTime started;  // local time with its UTC offset
    QString device;     // model name as in system.ini
    int family = 0;
    int channels = 0;
    int sbf = 0;
    int i2c = 0;       // 8-bit chip address
    QString firmware;  // as the TEST button shows it ("v3.2"); empty before a connection
    QString port;      // path of the open port; empty when none

    // "# started=... device=... ..." without the line end. Values are
    // percent-encoded where they hold a space, '%' or a control character.
    QByteArray toLine() const;
    // Parses line 2; false with a reason when it is not such a line. Unknown
    // keys are ignored, missing ones keep their defaults.
    static bool fromLine(const QByteArray& line, LogHeader* out, QString* why);
};

// A default log name for a start at that moment: tkeval-YYYYMMDD-HHMMSS.csv.
QString Log_DefaultFileName(const QDateTime& at);
// ISO 8601 local time with milliseconds, without (row times) or with (the
// start) the UTC offset.
QByteArray Log_FormatTime(qint64 wallMs);
QByteArray Log_FormatStarted(const QDateTime& at);
