#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include "app/regfile.h"

Q_DECLARE_METATYPE(RegLineKind)

class tst_RegFileFormat : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString Put(const QString& name, const QByteArray& content) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return QString();
        f.write(content);
        return path;
    }
    QByteArray Get(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void parseLine_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<RegLineKind>("kind");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("valueText");

        const auto W = RegLineKind::Write;
        QTest::newRow("plain") << QByteArray("w0A3F\n") << W << 0x0A << 0x3F << QByteArray("3F");
        QTest::newRow("no line end") << QByteArray("w2A05") << W << 0x2A << 0x05 << QByteArray("05");
        QTest::newRow("CR LF") << QByteArray("w0A3F\r\n") << W << 0x0A << 0x3F << QByteArray("3F");
        QTest::newRow("lower-case digits kept as typed")
            << QByteArray("wff1f") << W << 0xFF << 0x1F << QByteArray("1f");
        QTest::newRow("only five characters count")
            << QByteArray("w10A0 gain, was 80") << W << 0x10 << 0xA0 << QByteArray("A0");
        QTest::newRow("empty value writes 0") << QByteArray("w0A\n") << W << 0x0A << 0 << QByteArray();
        QTest::newRow("empty value, CR LF") << QByteArray("w0A\r\n") << W << 0x0A << 0 << QByteArray();
        QTest::newRow("one digit") << QByteArray("w0A5\n") << W << 0x0A << 0x05 << QByteArray("5");
        QTest::newRow("blank then digit") << QByteArray("w0A 5") << W << 0x0A << 0x05 << QByteArray(" 5");
        const auto N = RegLineKind::Note;
        QTest::newRow("upper-case W") << QByteArray("W0B01\n") << N << 0 << 0 << QByteArray();
        QTest::newRow("empty line") << QByteArray("\n") << N << 0 << 0 << QByteArray();
        QTest::newRow("indented") << QByteArray(" w0A3F") << N << 0 << 0 << QByteArray();
        const auto A = RegLineKind::BadAddress;
        QTest::newRow("note starting with w") << QByteArray("warning: keep 0A at 3F\n") << A << 0 << 0 << QByteArray();
        QTest::newRow("w alone") << QByteArray("w\n") << A << 0 << 0 << QByteArray();
        QTest::newRow("one address digit") << QByteArray("w5\n") << A << 0 << 0 << QByteArray();
        QTest::newRow("blank in address") << QByteArray("w A3F") << A << 0 << 0 << QByteArray();
        QTest::newRow("sign in address") << QByteArray("w-1FF") << A << 0 << 0 << QByteArray();

        const auto V = RegLineKind::BadValue;
        QTest::newRow("word after address") << QByteArray("w0A is gain") << V << 0x0A << 0 << QByteArray(" i");
        QTest::newRow("non-hex value") << QByteArray("w0AZZ") << V << 0x0A << 0 << QByteArray("ZZ");
        QTest::newRow("digit then letter") << QByteArray("w0A3G") << V << 0x0A << 0 << QByteArray("3G");
        QTest::newRow("negative value") << QByteArray("w0A-1") << V << 0x0A << 0 << QByteArray("-1");
    }
    void parseLine() {
        QFETCH(QByteArray, line);
        QFETCH(RegLineKind, kind);
        QFETCH(int, address);
        QFETCH(int, value);
        QFETCH(QByteArray, valueText);
        const RegFileLine r = RegFile_ParseLine(line);
        QCOMPARE(r.kind, kind);
        if (kind == RegLineKind::Note || kind == RegLineKind::BadAddress) return;
        QCOMPARE(int(r.address), address);
        QCOMPARE(r.valueText, valueText);
        if (kind == RegLineKind::Write) QCOMPARE(int(r.value), value);
    }

    void formatLine_matchesSavedLayout_andParsesBack() {
        QCOMPARE(RegFile_FormatLine(0x05, "A0"), QByteArray("w05A0\n"));
        QCOMPARE(RegFile_FormatLine(0x10, ""), QByteArray("w10\n"));
        QCOMPARE(RegFile_FormatLine(0x0A, "5"), QByteArray("w0A5\n"));
        for (int a = 0; a < 256; ++a) {
            const QByteArray text = QByteArray::number((a * 37) & 0xFF, 16).rightJustified(2, '0').toUpper();
            const RegFileLine r = RegFile_ParseLine(RegFile_FormatLine(a, text));
            QCOMPARE(r.kind, RegLineKind::Write);
            QCOMPARE(int(r.address), a);
            QCOMPARE(int(r.value), (a * 37) & 0xFF);
            QCOMPARE(r.valueText, text);
        }
    }

    // --- saving ------------------------------------------------------------------

    void save_createsAndReplaces() {
        const QString path = m_dir.filePath("t.sf");
        QString why;
        QVERIFY2(RegFile_Save(path, "w05A0\nw100F\n", &why), qPrintable(why));
        QCOMPARE(Get(path), QByteArray("w05A0\nw100F\n"));
        QVERIFY(RegFile_Save(path, "w0001\n", &why));
        QCOMPARE(Get(path), QByteArray("w0001\n"));
    }

    void save_unwritablePlace_fails_withReason() {
        // Tests run as root: permissions do not stop writes, missing folders do.
        const QString plain = Put("plain.txt", "keep\n");
        for (const QString& path : {plain + "/t.sf", m_dir.filePath("no/such/dir/t.sf")}) {
            QString why;
            QVERIFY(!RegFile_Save(path, "w0001\n", &why));
            QVERIFY(!why.isEmpty());
            QVERIFY(!QFile::exists(path));
        }
        QCOMPARE(Get(plain), QByteArray("keep\n"));
    }

    void save_diskFull_leavesOldFileWhole() {
        // A file-size limit fails the writes the way a full disk does.
        QTemporaryDir dir;
        const QString path = dir.filePath("t.sf");
        const QByteArray old = "w0011\nw0122\n";
        QString why;
        QVERIFY(RegFile_Save(path, old, &why));

        QByteArray big;
        for (int a = 0; a < 256; ++a) big += RegFile_FormatLine(a, "AA");
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 64;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const bool ok = RegFile_Save(path, big, &why);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!ok);
        QVERIFY(!why.isEmpty());
        QCOMPARE(Get(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"t.sf"});
    }

    // --- reading -------------------------------------------------------------------

    void reader_longLine_isOneLine() {
        // A register line hidden at character 255 of a note: read in 255-byte
        // pieces it would come out as a write of 0x3F to 0x0A.
        QByteArray note = "# " + QByteArray(253, 'x') + "w0A3F" + QByteArray(740, 'y') + "\n";
        QCOMPARE(note.size(), 1001);
        const QString path = Put("long.sf", note + "w0B01");

        RegFileReader r;
        QVERIFY(r.open(path));
        RegFileLine line;
        QVERIFY(r.next(&line));
        QCOMPARE(line.kind, RegLineKind::Note);
        QVERIFY(r.next(&line));  // last line without a line end
        QCOMPARE(line.kind, RegLineKind::Write);
        QCOMPARE(int(line.address), 0x0B);
        QCOMPARE(int(line.value), 0x01);
        QVERIFY(!r.next(&line));
        QVERIFY(!r.failed());
        QCOMPARE(r.lineNumber(), 2);
    }

    void reader_unopenable_givesReason() {
        for (const QString& path : {m_dir.filePath("missing.sf"), m_dir.path()}) {
            RegFileReader r;
            QVERIFY2(!r.open(path), qPrintable(path));
            QVERIFY(!r.errorString().isEmpty());
            RegFileLine line;
            QVERIFY(!r.next(&line));
        }
    }
};

QTEST_GUILESS_MAIN(tst_RegFileFormat)
#include "tst_regfile_format.moc"
