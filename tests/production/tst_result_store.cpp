// Records in SQLite and in a real PostgreSQL server started for the test,
// and the spool that keeps a record the database could not take.
#include <QDir>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "production/ResultStore.h"
#include "support/pg_server.h"

namespace {

TestRecord Sample(const QString& serial, int second) {
    TestRecord r;
    r.serial = serial;
    r.station = QStringLiteral("S1");
    r.operatorName = QStringLiteral("Ann");
    r.started = QDateTime(QDate(2026, 12, 8), QTime(9, 0, second, 5), Qt::UTC);
    r.ended = r.started.addSecs(3);
    r.outcome = QStringLiteral("FAIL");
    r.toolVersion = QStringLiteral("5.10");
    r.limitsName = QStringLiteral("panel");
    r.limitsSha256 = QStringLiteral("00ff");
    r.registersWritten = 2;
    r.registersVerified = 2;
    for (int ch = 1; ch <= 4; ++ch) {
        Measurement m;
        m.name = QStringLiteral("noise_pp");
        m.channel = ch;
        m.sbf = 1;
        m.value = ch * 3;
        m.max = 10;
        m.unit = QStringLiteral("counts");
        m.pass = m.value <= 10;
        r.measurements << m;
    }
    Measurement snr;
    snr.name = QStringLiteral("snr");
    snr.channel = 1;
    snr.value = INFINITY;  // no noise at all
    snr.min = 5;
    r.measurements << snr;
    return r;
}

}  // namespace

class tst_result_store : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void urls_data();
    void urls();
    void roundTrip_data();
    void roundTrip();
    void spool_keepsWhatTheStoppedServerRefusesAndStoresItLater();

private:
    StoreTarget target(const QString& kind);

    QTemporaryDir m_dir;
    std::unique_ptr<PgServer> m_pg;
};

void tst_result_store::initTestCase() {
    m_pg = std::make_unique<PgServer>();
    QString error;
    QVERIFY2(m_pg->start(&error), qPrintable(error));
}

void tst_result_store::cleanupTestCase() { m_pg.reset(); }

StoreTarget tst_result_store::target(const QString& kind) {
    StoreTarget t;
    QString error;
    const QString url = kind == QLatin1String("sqlite") ? QStringLiteral("sqlite:r.db") : m_pg->url();
    if (!Store_ParseUrl(url, m_dir.path(), &t, &error)) qWarning("%s", qPrintable(error));
    return t;
}

void tst_result_store::urls_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("shown");
    QTest::newRow("default") << "" << true << "sqlite:/work/results.db";
    QTest::newRow("sqlite relative") << "sqlite:line/r.db" << true << "sqlite:/work/line/r.db";
    QTest::newRow("sqlite absolute") << "sqlite:/data/r.db" << true << "sqlite:/data/r.db";
    QTest::newRow("sqlite empty") << "sqlite:" << false << "";
    QTest::newRow("postgresql") << "postgresql://line@db.local:5433/results" << true
                                << "postgresql://line@db.local:5433/results";
    QTest::newRow("postgresql no user") << "postgresql://db.local/results" << false << "";
    QTest::newRow("postgresql no database") << "postgresql://line@db.local" << false << "";
    QTest::newRow("other scheme") << "mysql://line@db/results" << false << "";
}

void tst_result_store::urls() {
    QFETCH(QString, url);
    QFETCH(bool, ok);
    QFETCH(QString, shown);
    StoreTarget t;
    QString error;
    QCOMPARE(Store_ParseUrl(url, QStringLiteral("/work"), &t, &error), ok);
    if (ok)
        QCOMPARE(t.display(), shown);
    else
        QVERIFY(error.contains(url.isEmpty() ? QStringLiteral("sqlite") : url.left(6)));
}

void tst_result_store::roundTrip_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("sqlite") << "sqlite";
    QTest::newRow("postgresql") << "postgresql";
}

void tst_result_store::roundTrip() {
    QFETCH(QString, kind);
    ResultStore store;
    QString error;
    QVERIFY2(store.open(target(kind), &error), qPrintable(error));
    const int before = store.runCount(&error);
    QVERIFY2(before >= 0, qPrintable(error));
    const TestRecord a = Sample(kind + "-A", 1);
    const TestRecord b = Sample(kind + "-B", 2);
    QVERIFY2(store.store(a, &error), qPrintable(error));
    QVERIFY2(store.store(b, &error), qPrintable(error));
    QVERIFY2(store.store(a, &error), qPrintable(error));  // sent again after a lost reply: kept once
    QCOMPARE(store.runCount(&error), before + 2);

    QVector<TestRecord> runs;
    ResultFilter f;
    f.since = QStringLiteral("2026-12-08T09:00:02.000Z");
    QVERIFY2(store.runs(f, &runs, &error), qPrintable(error));
    QStringList ours;
    for (const TestRecord& r : runs)
        if (r.serial.startsWith(kind)) ours << r.serial;
    QCOMPARE(ours, QStringList{kind + "-B"});
    f.since.clear();
    runs.clear();
    QVERIFY2(store.runs(f, &runs, &error), qPrintable(error));
    const auto it = std::find_if(runs.begin(), runs.end(), [&](const TestRecord& r) { return r.serial == a.serial; });
    QVERIFY(it != runs.end());
    QCOMPARE(it->toJson(), a.toJson());  // the whole record comes back as it went in

    // The measurement rows beside the JSON, for queries the tool does not make.
    store.close();
    QSqlDatabase db = QSqlDatabase::addDatabase(kind == "sqlite" ? "QSQLITE" : "QPSQL", "check");
    const StoreTarget t = target(kind);
    if (kind == "sqlite") {
        db.setDatabaseName(t.path);
    } else {
        db.setHostName(t.host);
        db.setPort(t.port);
        db.setDatabaseName(t.database);
        db.setUserName(t.user);
    }
    QVERIFY(db.open());
    {
        QSqlQuery q(db);
        QVERIFY(
            q.exec(QStringLiteral("SELECT m.channel, m.value, m.min_limit, m.max_limit, m.outcome FROM measurements m "
                                  "JOIN runs r ON r.id = m.run_id WHERE r.serial = '%1' ORDER BY m.name, m.channel")
                       .arg(a.serial)));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QCOMPARE(q.value(1).toDouble(), 3.0);
        QVERIFY(q.value(2).isNull());
        QCOMPARE(q.value(3).toDouble(), 10.0);
        int rows = 1;
        while (q.next()) ++rows;
        QCOMPARE(rows, 5);
        QVERIFY(q.exec(QStringLiteral("SELECT version FROM schema_version")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), kStoreSchemaVersion);
        QVERIFY(!q.next());
        if (kind == "sqlite") {
            QVERIFY(q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
        }
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("check");
}

void tst_result_store::spool_keepsWhatTheStoppedServerRefusesAndStoresItLater() {
    const QString spool = ResultSpool::folder(m_dir.path());
    ResultStore store;
    QString error;
    QVERIFY2(store.open(target("postgresql"), &error), qPrintable(error));
    const int before = store.runCount(&error);
    QVERIFY2(m_pg->stop(&error), qPrintable(error));

    const TestRecord r = Sample("spooled", 7);
    QVERIFY(!store.store(r, &error));
    QVERIFY(!error.isEmpty());
    QString path;
    QVERIFY2(ResultSpool::put(spool, r, &path, &error), qPrintable(error));
    QCOMPARE(ResultSpool::waiting(spool), QStringList{path});
    ResultStore down;
    QVERIFY(!down.open(target("postgresql"), &error));
    QCOMPARE(ResultSpool::flush(spool, &down, &error), 0);
    QCOMPARE(ResultSpool::waiting(spool).size(), 1);  // nothing is lost while the server is away

    QVERIFY2(m_pg->start(&error), qPrintable(error));
    ResultStore up;
    QVERIFY2(up.open(target("postgresql"), &error), qPrintable(error));
    QCOMPARE(ResultSpool::flush(spool, &up, &error), 1);
    QVERIFY(ResultSpool::waiting(spool).isEmpty());
    QCOMPARE(up.runCount(&error), before + 1);
    QVector<TestRecord> runs;
    QVERIFY(up.runs({}, &runs, &error));
    QVERIFY(std::any_of(runs.begin(), runs.end(), [&](const TestRecord& x) { return x.toJson() == r.toJson(); }));
}

QTEST_GUILESS_MAIN(tst_result_store)
#include "tst_result_store.moc"
