// What the sources of the production commands share: their own parsed
// command line and the output helpers. Internal to tkeval-cli.
#pragma once

#include <QByteArray>
#include <QMultiMap>
#include <QString>
#include <QStringList>
#include <algorithm>

struct TestRecord;

namespace cliprod {

struct ProdArgs {
    QString command;
    QMultiMap<QString, QString> opts;  // repeated --port and --serial keep their order through values()
    QStringList positional;

    bool has(const char* n) const { return opts.contains(QLatin1String(n)); }
    QString value(const char* n) const { return opts.value(QLatin1String(n)); }
    // In the order given.
    QStringList values(const char* n) const {
        QStringList v = opts.values(QLatin1String(n));
        std::reverse(v.begin(), v.end());
        return v;
    }
};

// Writes to standard output at once.
void Print(const QByteArray& bytes);
// Writes a whole file atomically; false with the reason in error.
bool WriteFile(const QString& path, const QByteArray& content, QString* error);
// A record as the summary on the terminal shows it, failures first.
QStringList SummaryLines(const TestRecord& r);

// test with several --port/--serial pairs: a child process per board.
int TestSeveralBoards(const ProdArgs& a);
// results: yield and Cpk from the result store.
int CmdResults(const ProdArgs& a);

}  // namespace cliprod
