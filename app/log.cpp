#include "app/log.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <cstdarg>
#include <cstdio>

#include "app/config.h"

void Log_FormatTime(char* out, int size, int year, int month, int day, int hour, int minute, int second, int msec) {
    std::snprintf(out, static_cast<size_t>(size), "%04d-%02d-%02d %02d:%02d:%02d:%03d", year, month, day, hour, minute,
                  second, msec);
}

int Log_Write(const QString& workDir, const char* text, const char* detail, const char* file, int line, int append) {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    char stamp[64];
    Log_FormatTime(stamp, sizeof stamp, d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());

    // Built without a fixed-size buffer, so a long text or path is written
    // whole instead of overrunning or being cut.
    QByteArray record(stamp);
    record += '\t';
    record += text ? text : "";
    record += '\t';
    record += detail ? detail : "";
    record += "\t\t";
    record += file ? file : "";
    record += '\t';
    record += QByteArray::number(line);
    record += '\n';

    const QString path = WorkDir_File(workDir, "Log.txt");
    if (append != 0) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return 0;
        return f.write(record) == record.size() ? 1 : 0;
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return 0;
    if (f.write(record) != record.size()) {
        f.cancelWriting();
        return 0;
    }
    return f.commit() ? 1 : 0;
}

void Console_Trace(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stdout, fmt, args);
    va_end(args);
    std::fflush(stdout);
}
