// The start-up log (Log.txt in the working directory) and the console trace.
#pragma once

#include <QString>

// Writes one record "time\ttext\tdetail\t\tfile\tline\n" to Log.txt in
// workDir (the current directory when that is empty). append = 0 recreates
// the file with this record only. Returns 1 when the record was written, 0
// when the file could not be opened or written. Null texts count as empty.
int Log_Write(const QString& workDir, const char* text, const char* detail, const char* file, int line, int append);

// The time stamp of a record, "%04d-%02d-%02d %02d:%02d:%02d:%03d".
void Log_FormatTime(char* out, int size, int year, int month, int day, int hour, int minute, int second, int msec);

// printf-style trace to standard output, flushed at once, for runs with
// redirected output (the window itself opens no console).
void Console_Trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
