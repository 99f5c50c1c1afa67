// tkeval-cli test with several --port/--serial pairs: each board is tested
// by a child tkeval-cli at once, and their records are gathered.
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <memory>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "cli/CliProductionParts.h"
#include "cli/CliSession.h"
#include "production/TestRecord.h"

namespace {

QString PerBoardPath(const QString& path, const QString& serial) {
    const QFileInfo f(path);
    QString safe = serial;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QString suffix = f.suffix().isEmpty() ? QString() : QLatin1Char('.') + f.suffix();
    return f.dir().filePath(f.completeBaseName() + QLatin1Char('-') + safe + suffix);
}

// What every board's run is given: the options the boards share, with the
// paths made absolute.
QStringList CommonArguments(const cliprod::ProdArgs& a) {
    QStringList common = {QStringLiteral("test"), QStringLiteral("--json"), QStringLiteral("--limits"),
                          Cli_UserPath(a.value("limits"))};
    common << QStringLiteral("--workdir")
           << (a.has("workdir") ? Cli_UserPath(a.value("workdir")) : QDir::currentPath());
    for (const char* k : {"station", "operator", "db", "addr"})
        if (a.has(k)) common << QStringLiteral("--%1").arg(QLatin1String(k)) << a.value(k);
    if (a.has("db") && a.value("db").startsWith(QLatin1String("sqlite:")))
        common.last() = QStringLiteral("sqlite:") + Cli_UserPath(a.value("db").mid(7));
    if (a.has("any-firmware")) common << QStringLiteral("--any-firmware");
    return common;
}

// Tests every board at once and returns when all runs have ended. Each board
// gets a process of its own: a board that hangs or crashes its run takes no
// other board's run with it.
std::vector<std::unique_ptr<QProcess>> RunBoards(const cliprod::ProdArgs& a, const QStringList& ports,
                                                 const QStringList& serials) {
    const QStringList common = CommonArguments(a);
    std::vector<std::unique_ptr<QProcess>> children;
    QEventLoop loop;
    int running = 0;
    for (int i = 0; i < ports.size(); ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setInputChannelMode(QProcess::ManagedInputChannel);
        QStringList args = common;
        args << QStringLiteral("--port") << ports[i] << QStringLiteral("--serial") << serials[i];
        if (a.has("record"))
            args << QStringLiteral("--record") << PerBoardPath(Cli_UserPath(a.value("record")), serials[i]);
        QObject::connect(p.get(), &QProcess::finished, &loop, [&] {
            if (--running == 0) loop.quit();
        });
        // A child that never started sends no finished().
        QObject::connect(p.get(), &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart && --running == 0) loop.quit();
        });
        ++running;
        p->start(QCoreApplication::applicationFilePath(), args);
        p->closeWriteChannel();
        children.push_back(std::move(p));
    }
    if (running > 0) loop.exec();
    return children;
}

}  // namespace

namespace cliprod {

int TestSeveralBoards(const ProdArgs& a) {
    const QStringList ports = a.values("port");
    const QStringList serials = a.values("serial");
    CliOutput out(false);
    if (ports.size() != serials.size())
        return out.fail(kExitUsage, QStringLiteral("%1 ports but %2 serial numbers: give --port P --serial S pairs")
                                        .arg(ports.size())
                                        .arg(serials.size()));
    if (a.has("touch")) return out.fail(kExitUsage, QStringLiteral("--touch tests one board at a time"));
    for (int i = 0; i < ports.size(); ++i)
        for (int j = i + 1; j < ports.size(); ++j)
            if (ports[i] == ports[j] || serials[i] == serials[j])
                return out.fail(
                    kExitUsage,
                    QStringLiteral("board %1 and board %2 share a port or a serial number").arg(i + 1).arg(j + 1));

    const std::vector<std::unique_ptr<QProcess>> children = RunBoards(a, ports, serials);

    QVector<TestRecord> records;
    QJsonArray docs;
    QStringList lines;
    bool anyFail = false;
    int firstError = kExitOk;
    for (size_t i = 0; i < children.size(); ++i) {
        QProcess& p = *children[i];
        const int code =
            p.exitStatus() == QProcess::NormalExit && p.error() != QProcess::FailedToStart ? p.exitCode() : kExitBoard;
        const QJsonObject doc = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        TestRecord r;
        QString why;
        if (TestRecord::fromJson(doc, &r, &why)) {
            records << r;
            docs << doc;
            const QStringList board = SummaryLines(r);
            lines << QStringLiteral("%1: %2").arg(ports[int(i)], board.first());
            for (const QString& l : board.mid(1))
                if (l.startsWith(QLatin1String("  FAIL")) || l.startsWith(QLatin1String("  error"))) lines << l;
        } else {
            lines
                << QStringLiteral("%1: ERROR  %2  (no record: exit %3)").arg(ports[int(i)], serials[int(i)]).arg(code);
        }
        if (code == kExitTest)
            anyFail = true;
        else if (code != kExitOk && firstError == kExitOk)
            firstError = code;
    }
    int code = firstError != kExitOk ? firstError : anyFail ? kExitTest : kExitOk;
    QString why;
    if (a.has("junit") && !WriteFile(Cli_UserPath(a.value("junit")), Record_JUnit(records), &why)) {
        out.fail(kExitFile, why);
        if (code == kExitOk) code = kExitFile;
    }
    if (a.has("json"))
        Print(QJsonDocument(QJsonObject{{"runs", docs}, {"exit_code", code}}).toJson(QJsonDocument::Indented));
    else
        Print((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit());
    return code;
}

}  // namespace cliprod
