#include "production/ResultStore.h"

#include <QAtomicInt>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <cmath>

namespace {

QAtomicInt s_NextConnection{0};

QString SqlError(const QSqlError& e) {
    const QString text = e.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

QVariant OptionalValue(const std::optional<double>& v) { return v ? QVariant(*v) : QVariant(); }

QByteArray RecordJson(const TestRecord& r) { return QJsonDocument(r.toJson()).toJson(QJsonDocument::Compact); }

}  // namespace

QString StoreTarget::display() const {
    if (kind == Kind::Sqlite) return QStringLiteral("sqlite:") + path;
    QString s = QStringLiteral("postgresql://%1@%2").arg(user, host);
    if (port > 0) s += QStringLiteral(":%1").arg(port);
    return s + QLatin1Char('/') + database;
}

bool Store_ParseUrl(const QString& url, const QString& workDir, StoreTarget* out, QString* error) {
    StoreTarget t;
    if (url.isEmpty() || url.startsWith(QLatin1String("sqlite:"))) {
        const QString file = url.isEmpty() ? QStringLiteral("results.db") : url.mid(7);
        if (file.isEmpty()) {
            *error = QStringLiteral("--db sqlite: needs a file name (sqlite:PATH)");
            return false;
        }
        t.path = QDir(workDir).absoluteFilePath(file);
        *out = t;
        return true;
    }
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid() || (u.scheme() != QLatin1String("postgresql") && u.scheme() != QLatin1String("postgres"))) {
        *error = QStringLiteral("--db %1: not sqlite:PATH or postgresql://USER@HOST/DB").arg(url);
        return false;
    }
    t.kind = StoreTarget::Kind::Postgres;
    t.user = u.userName();
    t.password = u.password();
    t.host = u.host();
    t.port = u.port(-1);
    t.database = u.path().mid(1);
    const QUrlQuery q(u);
    if (q.hasQueryItem(QStringLiteral("host"))) t.host = q.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    if (t.user.isEmpty() || t.host.isEmpty() || t.database.isEmpty() || t.database.contains(QLatin1Char('/'))) {
        *error = QStringLiteral("--db %1: needs a user, a host and a database (postgresql://USER@HOST/DB)").arg(url);
        return false;
    }
    *out = t;
    return true;
}

ResultStore::ResultStore()
    : m_Connection(QStringLiteral("tkeval-results-%1").arg(s_NextConnection.fetchAndAddRelaxed(1))) {}

ResultStore::~ResultStore() { close(); }

void ResultStore::close() {
    if (!QSqlDatabase::contains(m_Connection)) return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_Connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_Connection);
    m_Open = false;
}

bool ResultStore::open(const StoreTarget& target, QString* error) {
    close();
    m_Target = target;
    const bool sqlite = target.kind == StoreTarget::Kind::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = QStringLiteral("%1: Qt's %2 driver is not installed (Debian: %3)")
                     .arg(target.display(), driver,
                          sqlite ? QStringLiteral("libqt6sql6-sqlite") : QStringLiteral("libqt6sql6-psql"));
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, m_Connection);
        if (sqlite) {
            if (!QFileInfo(target.path).absoluteDir().exists()) {
                *error = QStringLiteral("%1: no such folder").arg(QFileInfo(target.path).absolutePath());
                return false;
            }
            db.setDatabaseName(target.path);
            // Several stations' processes may write at once; each waits its turn.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
        } else {
            db.setHostName(target.host);
            if (target.port > 0) db.setPort(target.port);
            db.setDatabaseName(target.database);
            db.setUserName(target.user);
            db.setPassword(target.password);
            db.setConnectOptions(QStringLiteral("connect_timeout=5"));
        }
        if (!db.open()) {
            *error = QStringLiteral("%1: cannot be opened: %2").arg(target.display(), SqlError(db.lastError()));
            return false;
        }
    }
    m_Open = true;
    if (sqlite && !exec(QStringLiteral("PRAGMA journal_mode=WAL"), error)) return false;
    // "already exists, skipping" on every run is no news to a station's log.
    if (!sqlite && !exec(QStringLiteral("SET client_min_messages = warning"), error)) return false;
    if (!createSchema(error)) {
        close();
        return false;
    }
    return true;
}

bool ResultStore::exec(const QString& sql, QString* error) {
    QSqlQuery q(QSqlDatabase::database(m_Connection, false));
    if (q.exec(sql)) return true;
    *error = QStringLiteral("%1: %2").arg(m_Target.display(), SqlError(q.lastError()));
    return false;
}

bool ResultStore::createSchema(QString* error) {
    const bool sqlite = m_Target.kind == StoreTarget::Kind::Sqlite;
    const QString id =
        sqlite ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT") : QStringLiteral("BIGSERIAL PRIMARY KEY");
    if (!exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), error)) return false;
    // Stations starting together must not race to create the same tables.
    const bool ok =
        (sqlite || exec(QStringLiteral("SELECT pg_advisory_xact_lock(7402028)"), error)) &&
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"), error) &&
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS runs (id %1, run_key TEXT NOT NULL UNIQUE, "
                            "serial TEXT NOT NULL, station TEXT, operator TEXT, started TEXT NOT NULL, ended TEXT, "
                            "outcome TEXT NOT NULL, error TEXT, limits_name TEXT, limits_sha256 TEXT, "
                            "record TEXT NOT NULL)")
                 .arg(id),
             error) &&
        exec(
            QStringLiteral("CREATE TABLE IF NOT EXISTS measurements (run_id BIGINT NOT NULL REFERENCES runs(id), "
                           "name TEXT NOT NULL, channel INTEGER NOT NULL, sbf INTEGER, value DOUBLE PRECISION, "
                           "min_limit DOUBLE PRECISION, max_limit DOUBLE PRECISION, unit TEXT, outcome TEXT NOT NULL)"),
            error) &&
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS runs_started ON runs (started)"), error) &&
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS measurements_run ON measurements (run_id)"), error);
    if (!ok) {
        QString ignored;
        exec(QStringLiteral("ROLLBACK"), &ignored);
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_Connection, false));
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next()) {
        *error = QStringLiteral("%1: %2").arg(m_Target.display(), SqlError(q.lastError()));
        QString ignored;
        exec(QStringLiteral("ROLLBACK"), &ignored);
        return false;
    }
    const QVariant have = q.value(0);
    q.finish();
    if (!have.isNull() && have.toInt() > kStoreSchemaVersion) {
        *error = QStringLiteral("%1: the database's schema version %2 is newer than this tool's %3")
                     .arg(m_Target.display())
                     .arg(have.toInt())
                     .arg(kStoreSchemaVersion);
        QString ignored;
        exec(QStringLiteral("ROLLBACK"), &ignored);
        return false;
    }
    if (have.isNull() &&
        !exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(kStoreSchemaVersion), error)) {
        QString ignored;
        exec(QStringLiteral("ROLLBACK"), &ignored);
        return false;
    }
    return exec(QStringLiteral("COMMIT"), error);
}

bool ResultStore::store(const TestRecord& r, QString* error) {
    if (!m_Open) {
        *error = QStringLiteral("the result database is not open");
        return false;
    }
    const bool sqlite = m_Target.kind == StoreTarget::Kind::Sqlite;
    const QByteArray json = RecordJson(r);
    const QString key = QString::fromLatin1(QCryptographicHash::hash(json, QCryptographicHash::Sha256).toHex());
    QSqlDatabase db = QSqlDatabase::database(m_Connection, false);
    if (!exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), error)) return false;
    const auto rollback = [&](const QSqlQuery& q) {
        *error = QStringLiteral("%1: %2").arg(m_Target.display(), SqlError(q.lastError()));
        QString ignored;
        exec(QStringLiteral("ROLLBACK"), &ignored);
        return false;
    };
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("INSERT INTO runs (run_key, serial, station, operator, started, ended, outcome, error, "
                       "limits_name, limits_sha256, record) VALUES (?,?,?,?,?,?,?,?,?,?,?) "
                       "ON CONFLICT (run_key) DO NOTHING RETURNING id"));
    for (const QVariant& v : {QVariant(key), QVariant(r.serial), QVariant(r.station), QVariant(r.operatorName),
                              QVariant(Record_Timestamp(r.started)), QVariant(Record_Timestamp(r.ended)),
                              QVariant(r.outcome), r.error.isEmpty() ? QVariant() : QVariant(r.error),
                              QVariant(r.limitsName), QVariant(r.limitsSha256), QVariant(QString::fromUtf8(json))})
        q.addBindValue(v);
    if (!q.exec()) return rollback(q);
    if (!q.next()) {
        // Stored before (a spooled record whose first attempt did arrive).
        q.finish();
        return exec(QStringLiteral("COMMIT"), error);
    }
    const qlonglong runId = q.value(0).toLongLong();
    q.finish();
    QSqlQuery m(db);
    m.prepare(
        QStringLiteral("INSERT INTO measurements (run_id, name, channel, sbf, value, min_limit, max_limit, unit, "
                       "outcome) VALUES (?,?,?,?,?,?,?,?,?)"));
    for (const Measurement& x : r.measurements) {
        m.addBindValue(runId);
        m.addBindValue(x.name);
        m.addBindValue(x.channel);
        m.addBindValue(x.sbf);
        // A ratio without noise is infinite: the record keeps it, the column is left empty.
        m.addBindValue(std::isfinite(x.value) ? QVariant(x.value) : QVariant());
        m.addBindValue(OptionalValue(x.min));
        m.addBindValue(OptionalValue(x.max));
        m.addBindValue(x.unit);
        m.addBindValue(x.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
        if (!m.exec()) return rollback(m);
    }
    return exec(QStringLiteral("COMMIT"), error);
}

bool ResultStore::runs(const ResultFilter& f, QVector<TestRecord>* out, QString* error) {
    QSqlQuery q(QSqlDatabase::database(m_Connection, false));
    QStringList where;
    if (!f.since.isEmpty()) where << QStringLiteral("started >= ?");
    if (!f.station.isEmpty()) where << QStringLiteral("station = ?");
    QString sql = QStringLiteral("SELECT record FROM runs");
    if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY started, id");
    q.prepare(sql);
    if (!f.since.isEmpty()) q.addBindValue(f.since);
    if (!f.station.isEmpty()) q.addBindValue(f.station);
    if (!q.exec()) {
        *error = QStringLiteral("%1: %2").arg(m_Target.display(), SqlError(q.lastError()));
        return false;
    }
    while (q.next()) {
        TestRecord r;
        QString why;
        const QJsonDocument doc = QJsonDocument::fromJson(q.value(0).toString().toUtf8());
        if (TestRecord::fromJson(doc.object(), &r, &why)) out->append(r);
    }
    return true;
}

int ResultStore::runCount(QString* error) {
    QSqlQuery q(QSqlDatabase::database(m_Connection, false));
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM runs")) || !q.next()) {
        *error = SqlError(q.lastError());
        return -1;
    }
    return q.value(0).toInt();
}

namespace ResultSpool {

QString folder(const QString& workDir) { return QDir(workDir).absoluteFilePath(QStringLiteral("spool")); }

bool put(const QString& dir, const TestRecord& r, QString* path, QString* error) {
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("%1: the spool folder cannot be made").arg(dir);
        return false;
    }
    const QByteArray json = QJsonDocument(r.toJson()).toJson(QJsonDocument::Indented);
    QString serial = r.serial;
    serial.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QString name =
        QStringLiteral("%1-%2-%3.json")
            .arg(r.started.toUTC().toString(QStringLiteral("yyyyMMddTHHmmsszzz")), serial.left(64),
                 QString::fromLatin1(QCryptographicHash::hash(json, QCryptographicHash::Sha256).toHex().left(8)));
    *path = QDir(dir).absoluteFilePath(name);
    QSaveFile f(*path);
    if (!f.open(QIODevice::WriteOnly) || f.write(json) != json.size() || !f.commit()) {
        *error = QStringLiteral("%1: not written: %2").arg(*path, f.errorString());
        return false;
    }
    return true;
}

QStringList waiting(const QString& dir) {
    QStringList files;
    for (const QString& n : QDir(dir).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        files << QDir(dir).absoluteFilePath(n);
    return files;
}

int flush(const QString& dir, ResultStore* store, QString* error) {
    int stored = 0;
    for (const QString& path : waiting(dir)) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) continue;
        TestRecord r;
        QString why;
        if (!TestRecord::fromJson(QJsonDocument::fromJson(f.readAll()).object(), &r, &why)) {
            // Not ours to delete: it stays for someone to look at.
            continue;
        }
        f.close();
        if (!store->store(r, error)) return stored;
        QFile::remove(path);
        ++stored;
    }
    return stored;
}

}  // namespace ResultSpool

QString Store_RecordOrSpool(const TestRecord& r, const StoreTarget& target, const QString& workDir, bool* kept) {
    const QString spool = ResultSpool::folder(workDir);
    ResultStore store;
    QString why;
    QString earlier;
    *kept = false;
    if (store.open(target, &why)) {
        const int waiting = ResultSpool::waiting(spool).size();
        if (waiting > 0) {
            const int n = ResultSpool::flush(spool, &store, &why);
            earlier = QStringLiteral(" (%1 spooled record%2 stored first%3)")
                          .arg(n)
                          .arg(n == 1 ? "" : "s")
                          .arg(n < waiting ? QStringLiteral(", %1 still waiting").arg(waiting - n) : QString());
        }
        if (store.store(r, &why)) {
            *kept = true;
            return QStringLiteral("stored in %1%2").arg(target.display(), earlier);
        }
    }
    QString path;
    QString spoolWhy;
    if (!ResultSpool::put(spool, r, &path, &spoolWhy)) return QStringLiteral("NOT STORED: %1; %2").arg(why, spoolWhy);
    *kept = true;  // the next run stores it
    return QStringLiteral("not stored (%1); spooled to %2, stored first on the next run").arg(why, path);
}
