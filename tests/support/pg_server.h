// A real PostgreSQL server for a test: a fresh cluster in a temporary
// folder, reached only through a socket in that folder. As root it runs as
// the unprivileged user "nobody" (the server refuses to run as root).
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

class PgServer {
public:
    PgServer();
    ~PgServer();

    // initdb (once) and start; false with a reason.
    bool start(QString* error);
    bool stop(QString* error);
    bool running() const { return m_running; }
    // postgresql://nobody@localhost/postgres?host=SOCKET_DIR
    QString url() const;

private:
    bool run(const QString& program, const QStringList& args, QString* error, int timeoutMs = 60000);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    QString m_user;
    bool m_initialised = false;
    bool m_running = false;
};
