// The log writer and reader on their own: what one writes the other reads
// back unchanged, bad files and rows are named precisely, a cut-off log
// replays up to the cut, and a full disk leaves whole rows behind.
#include <sys/resource.h>

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include "data/LogReader.h"
#include "data/LogWriter.h"

namespace {

LogHeader SomeHeader() {
    LogHeader h;
    h.started = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
    h.device = QStringLiteral("TK2C rev 2%");  // space and '%' need encoding
    h.family = 4;
    h.channels = 8;
    h.sbf = 4;
    h.i2c = 0xB0;
    h.firmware = QStringLiteral("v3.2");
    h.port = QStringLiteral("/tmp/my board/tty");
    return h;
}

MonitorSample SomeSample(int channel, int sbfCount, int seed) {
    MonitorSample s;
    s.wallMs = 1700000000123 + seed;
    s.channel = channel;
    s.sbfCount = sbfCount;
    for (int k = 0; k < kMaxSbf; ++k) {
        s.ref[k] = static_cast<uint16_t>(60000 + seed + k);
        s.sense[k] = static_cast<uint16_t>(1000 * k + seed);
        s.diff[k] = -70000 * (k + 1) - seed;  // beyond 16 bits and negative
        s.offset[k] = INT32_MIN + k;
    }
    return s;
}

QByteArray Header() {
    return QByteArray(LogFormat::kMagic) + "\n" + SomeHeader().toLine() + "\n" + LogFormat::kColumns + "\n";
}

const QByteArray kRow = "2026-03-04T05:06:07.100,10,touch,,,,,,,0003,\n";

struct ReadBack {
    bool opened = false;
    QString error;
    QVector<LogRow> rows;
    QStringList problems;
    bool truncated = false;
};

ReadBack Read(QByteArray bytes) {
    QBuffer buf(&bytes);
    buf.open(QIODevice::ReadOnly);
    LogReader r;
    ReadBack out;
    out.opened = r.open(&buf, QStringLiteral("x.csv"));
    out.error = r.error();
    LogRow row;
    while (out.opened && r.next(&row)) out.rows << row;
    out.problems = r.problems();
    out.truncated = r.truncated();
    return out;
}

}  // namespace

class tst_log_format : public QObject {
    Q_OBJECT
private slots:
    void writeRead_everyKind_comesBackUnchanged() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.csv"));
        LogWriter w;
        QVERIFY2(w.open(path, SomeHeader()), qPrintable(w.error()));
        QVERIFY(w.writeSample(5, SomeSample(0, 4, 1)));
        QVERIFY(w.writeSample(5, SomeSample(15, 2, 2)));
        QVERIFY(w.writeSample(6, SomeSample(0, 4, 3)));  // the next publication of channel 1
        TouchEvent t;
        t.wallMs = 1700000000999;
        t.mask = 0x8001;
        QVERIFY(w.writeTouch(7, t));
        QVERIFY(w.writeRegister(8, 1700000001000, 0x2F, 0x0A));
        const QString note = QStringLiteral("held \"key\", then\nlet go — ü");
        QVERIFY(w.writeMark(9, 1700000001001, note));
        QCOMPARE(w.rowCount(), 4 + 2 + 4 + 3);
        w.close();
        QVERIFY(!w.failed());

        LogReader r;
        QVERIFY2(r.open(path), qPrintable(r.error()));
        const LogHeader h = r.header();
        QCOMPARE(h.started, SomeHeader().started);
        QCOMPARE(h.device, SomeHeader().device);
        QCOMPARE(h.port, SomeHeader().port);
        QCOMPARE(h.firmware, QStringLiteral("v3.2"));
        QCOMPARE(h.i2c, 0xB0);
        QCOMPARE(h.family, 4);
        QCOMPARE(h.sbf, 4);

        QVector<LogEvent> ev;
        LogEvent e;
        while (r.nextEvent(&e)) ev << e;
        QVERIFY2(r.problems().isEmpty(), qPrintable(r.problems().join('\n')));
        QVERIFY(!r.truncated());
        QCOMPARE(ev.size(), 6);
        for (int i : {0, 1, 2}) {
            const MonitorSample want = SomeSample(i == 1 ? 15 : 0, i == 1 ? 2 : 4, i + 1);
            const MonitorSample& got = ev[i].sample;
            QCOMPARE(ev[i].kind, LogRowKind::Sample);
            QCOMPARE(got.channel, want.channel);
            QCOMPARE(got.sbfCount, want.sbfCount);
            QCOMPARE(got.wallMs, want.wallMs);
            for (int k = 0; k < want.sbfCount; ++k) {
                QCOMPARE(got.ref[k], want.ref[k]);
                QCOMPARE(got.sense[k], want.sense[k]);
                QCOMPARE(got.diff[k], want.diff[k]);
                QCOMPARE(got.offset[k], want.offset[k]);
            }
        }
        QCOMPARE(ev[2].tMs, 6);
        QCOMPARE(ev[3].kind, LogRowKind::Touch);
        QCOMPARE(int(ev[3].touch.mask), 0x8001);
        QCOMPARE(ev[3].touch.wallMs, t.wallMs);
        QCOMPARE(ev[4].kind, LogRowKind::Write);
        QCOMPARE(ev[4].reg, 0x2F);
        QCOMPARE(ev[4].value, 0x0A);
        QCOMPARE(ev[5].kind, LogRowKind::Mark);
        QCOMPARE(ev[5].note, note);
        QCOMPARE(ev[5].line, 3 + 10 + 1 + 1 + 1);

        QFile raw(path);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray bytes = raw.readAll();
        QVERIFY(!bytes.contains('\r'));
        QVERIFY(bytes.contains(",touch,,,,,,,8001,\n"));
        QVERIFY(bytes.contains(",write,,,,,,,,2F=0A\n"));
    }

    void badInput_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("refusal");  // part of the error, empty when the file opens
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("problems");  // starts of the problem lines
        QTest::addColumn<bool>("truncated");

        const QByteArray h = Header();
        QTest::newRow("empty") << QByteArray() << "line 1" << 0 << QStringList() << false;
        QTest::newRow("other csv") << QByteArray("a,b,c\n1,2,3\n") << "line 1 is \"a,b,c\"" << 0 << QStringList()
                                   << false;
        QTest::newRow("later version") << QByteArray("# tkeval log 2\n# started=\n") << "line 1 is \"# tkeval log 2\""
                                       << 0 << QStringList() << false;
        QTest::newRow("no key=value line")
            << QByteArray("# tkeval log 1\ntime,t_ms\n") << "line 2" << 0 << QStringList() << false;
        QTest::newRow("bad family") << QByteArray("# tkeval log 1\n# family=x\n") << "line 2" << 0 << QStringList()
                                    << false;
        QTest::newRow("missing column") << QByteArray("# tkeval log 1\n# device=X\n# more\ntime,t_ms,kind\n")
                                        << "line 4" << 0 << QStringList() << false;
        QTest::newRow("cut in the header")
            << QByteArray("# tkeval log 1\n# dev") << "line 2" << 0 << QStringList() << false;

        QTest::newRow("unknown columns, further # lines, CRLF")
            << QByteArray(
                   "# tkeval log 1\r\n# device=X future=1\r\n# a comment\r\n"
                   "extra,time,t_ms,kind,channel,sbf,ref,sense,diff,offset,touch,note,more\r\n"
                   "zz,2026-03-04T05:06:07.100,1,sample,1,1,2,3,4,5,,,yy\r\n# between\r\n"
                   "zz,2026-03-04T05:06:07.200,2,mark,,,,,,,,\"a,b\",yy\r\n")
            << QString() << 2 << QStringList() << false;
        QTest::newRow("bad rows skipped with their lines")
            << h +
                   "2026-03-04T05:06:07.100,1,sample,17,1,2,3,4,5,,\n"     // line 4: channel 17
                   "2026-03-04T05:06:07.100,1,sample,1,1,70000,3,4,5,,\n"  // line 5: ref beyond 16 bits
                   "2026-13-04T05:06:07.100,1,mark,,,,,,,,x\n"             // line 6: month 13
                   "2026-03-04T05:06:07.100,-1,mark,,,,,,,,x\n"            // line 7: negative t_ms
                   "2026-03-04T05:06:07.100,1,blip,,,,,,,,\n"              // line 8
                   "2026-03-04T05:06:07.100,1,write,,,,,,,,2F=\n"          // line 9
                   "2026-03-04T05:06:07.100,1,touch,,,,,,,12345,\n"        // line 10
                   "2026-03-04T05:06:07.100,1,mark,,,,,,,,ab\"c\n"         // line 11: stray quote
                   + kRow
            << QString() << 1
            << QStringList{"line 4:", "line 5:", "line 6:", "line 7:", "line 8:", "line 9:", "line 10:", "line 11:"}
            << false;
        QTest::newRow("cut in the middle of a row")
            << h + kRow + kRow.left(30) << QString() << 1 << QStringList{"line 5:"} << true;
        QTest::newRow("cut inside a quoted note") << h + kRow + "2026-03-04T05:06:07.100,1,mark,,,,,,,,\"one\ntwo"
                                                  << QString() << 1 << QStringList{"line 5:"} << true;
        QTest::newRow("multi-line note, then a row")
            << h + "2026-03-04T05:06:07.100,1,mark,,,,,,,,\"one\ntwo\"\n" + kRow << QString() << 2 << QStringList()
            << false;
    }

    void badInput() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, refusal);
        QFETCH(int, rows);
        QFETCH(QStringList, problems);
        QFETCH(bool, truncated);
        const ReadBack r = Read(bytes);
        if (!refusal.isEmpty()) {
            QVERIFY(!r.opened);
            QVERIFY2(r.error.contains(QStringLiteral("x.csv")) && r.error.contains(refusal), qPrintable(r.error));
            return;
        }
        QVERIFY2(r.opened, qPrintable(r.error));
        QCOMPARE(r.rows.size(), rows);
        QCOMPARE(r.problems.size(), problems.size());
        for (int i = 0; i < problems.size(); ++i)
            QVERIFY2(r.problems[i].startsWith(problems[i]), qPrintable(r.problems[i]));
        QCOMPARE(r.truncated, truncated);
    }

    void diskFull_stopsWithWholeRowsLeft() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("full.csv"));
        LogWriter w;
        QSignalSpy failed(&w, &LogWriter::failedWith);
        QVERIFY(w.open(path, SomeHeader()));

        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 5000;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        bool ok = true;
        int publications = 0;
        for (; ok && publications < 10000; ++publications) {
            ok = w.writeSample(publications, SomeSample(publications % 8, 4, publications));
            if (ok && publications % 50 == 0) ok = w.flush();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!ok);
        QVERIFY(w.failed());
        QCOMPARE(failed.count(), 1);
        QVERIFY2(w.error().contains(QStringLiteral("full.csv")) && w.error().contains(QStringLiteral("large")),
                 qPrintable(w.error()));
        QVERIFY(!w.writeMark(1, 1, QStringLiteral("after")));

        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.size() <= 5000);
        QVERIFY(bytes.endsWith('\n'));
        const ReadBack r = Read(bytes);
        QVERIFY(r.opened);
        QVERIFY(r.problems.isEmpty());
        QVERIFY(!r.truncated);
        QVERIFY(r.rows.size() >= 4);
    }

    void rowsReachTheDiskWithinASecond() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.csv"));
        LogWriter w;
        QVERIFY(w.open(path, SomeHeader()));
        w.writeMark(0, Wall_Ms(), QStringLiteral("first"));   // may go at once
        w.writeMark(1, Wall_Ms(), QStringLiteral("second"));  // waits for the timer
        auto onDisk = [&] {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(onDisk().endsWith(",second\n"), 5000);
        QVERIFY(w.isOpen());
    }

    void defaultName() {
        QCOMPARE(Log_DefaultFileName(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))),
                 QStringLiteral("tkeval-20260102-030405.csv"));
    }
};

QTEST_GUILESS_MAIN(tst_log_format)
#include "tst_log_format.moc"
