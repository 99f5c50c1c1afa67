#include "pg_server.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

constexpr int kPort = 5433;  // the socket lives in our own folder, so no other server shares it

QString FindBin() {
    const QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::reverse(versions.begin(), versions.end());
    for (const QString& v : versions) {
        const QString bin = root.filePath(v + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb"))) return bin;
    }
    return QString();
}

}  // namespace

PgServer::PgServer() : m_dir(std::make_unique<QTemporaryDir>()), m_bin(FindBin()) {
    m_user = ::geteuid() == 0 ? QStringLiteral("nobody") : QString::fromLocal8Bit(qgetenv("USER"));
    if (m_user.isEmpty()) m_user = QStringLiteral("postgres");
}

PgServer::~PgServer() {
    QString ignored;
    if (m_running) stop(&ignored);
}

bool PgServer::run(const QString& program, const QStringList& args, QString* error, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(m_dir->path());
    const QString exe = m_bin + QLatin1Char('/') + program;
    if (::geteuid() == 0)
        p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), m_user, QStringLiteral("--"), exe} + args);
    else
        p.start(exe, args);
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(p.readAll()));
        p.kill();
        p.waitForFinished();
        return false;
    }
    return true;
}

QString PgServer::url() const {
    return QStringLiteral("postgresql://%1@localhost:%2/postgres?host=%3").arg(m_user).arg(kPort).arg(m_dir->path());
}

bool PgServer::start(QString* error) {
    if (m_bin.isEmpty()) {
        *error = QStringLiteral("no PostgreSQL server installed (scripts/setup installs it)");
        return false;
    }
    if (!m_dir->isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString data = m_dir->filePath(QStringLiteral("data"));
    if (!m_initialised) {
        if (::geteuid() == 0) {
            // The server's user must reach its folder and own its data.
            QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::ReadOther | QFile::WriteOther | QFile::ExeOther |
                                                     QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup);
        }
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), data, QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"),
                  m_user, QStringLiteral("--no-sync"), QStringLiteral("-E"), QStringLiteral("UTF8")},
                 error, 120000))
            return false;
        m_initialised = true;
    }
    const QString options =
        QStringLiteral("-p %1 -k %2 -c listen_addresses='' -c fsync=off").arg(kPort).arg(m_dir->path());
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), data, QStringLiteral("-o"), options, QStringLiteral("-l"),
              m_dir->filePath(QStringLiteral("server.log")), QStringLiteral("-w"), QStringLiteral("-t"),
              QStringLiteral("60"), QStringLiteral("start")},
             error, 90000))
        return false;
    m_running = true;
    return true;
}

bool PgServer::stop(QString* error) {
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-m"),
              QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")},
             error))
        return false;
    m_running = false;
    return true;
}
