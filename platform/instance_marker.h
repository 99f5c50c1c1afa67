// Marks the running program with a named lock taken from its file name, the
// way the first instance of a program is told apart from later ones. The mark
// never refuses a start and never waits.
#pragma once

#include <QString>

// File-name part of a program path: the text after the last '/' or '\\', or
// the whole path when it holds neither.
QString InstanceMarker_Name(const QString& programPath);

// Takes the lock named after name in dir (default: the per-user runtime
// directory, else the temporary directory) and holds it until the process
// ends. True for the first holder; false when another process holds it or the
// lock cannot be made. Returns at once in every case. A lock this process
// already holds counts as taken.
bool InstanceMarker_Take(const QString& name, const QString& dir = QString());

// Path of the lock file used for name in dir (same default as above).
QString InstanceMarker_Path(const QString& name, const QString& dir = QString());
