#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/ini.h"

class tst_Ini : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString Write(const QByteArray& content, const char* name = "t.ini") {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
        f.write(content);
        return path;
    }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void getString_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QByteArray base =
            "; comment=x\n[System]\nDevice = TK2C \nlist=a,b, c\npath=C:\\dir\\f.sf\nq=\"quoted\"\n"
            "empty=\n[other]\nDevice=Other\n[SYSTEM]\nlate=only in second copy\n";
        QTest::newRow("case-insensitive names") << base << "SYSTEM"
                                                << "DEVICE"
                                                << "TK2C";
        QTest::newRow("comma kept") << base << "system"
                                    << "list"
                                    << "a,b, c";
        QTest::newRow("backslashes kept") << base << "system"
                                          << "path"
                                          << "C:\\dir\\f.sf";
        QTest::newRow("quotes kept") << base << "system"
                                     << "q"
                                     << "\"quoted\"";
        QTest::newRow("empty value is not the default") << base << "system"
                                                        << "empty"
                                                        << "";
        QTest::newRow("missing key") << base << "system"
                                     << "nope"
                                     << "DEF";
        QTest::newRow("missing section") << base << "absent"
                                         << "Device"
                                         << "DEF";
        QTest::newRow("other section's key") << base << "other"
                                             << "device"
                                             << "Other";
        QTest::newRow("first section of a name wins") << base << "system"
                                                      << "late"
                                                      << "DEF";
        QTest::newRow("comment is not a key") << base << ""
                                              << "; comment"
                                              << "DEF";
        QTest::newRow("CRLF endings") << QByteArray("[A]\r\nk=v \r\n") << "a"
                                      << "K"
                                      << "v";
        QTest::newRow("no final newline") << QByteArray("[A]\nk=last") << "A"
                                          << "k"
                                          << "last";
        QTest::newRow("'=' inside the value") << QByteArray("[A]\nk=x=y\n") << "A"
                                              << "k"
                                              << "x=y";
    }
    void getString() {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(Ini_GetString(Write(content), section, key, "DEF"), expected);
    }

    void getString_missingFile_givesDefault() {
        QCOMPARE(Ini_GetString(m_dir.filePath("none.ini"), "S", "K", "No Info"), QString("No Info"));
    }

    void getInt_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << QByteArray("k=12") << 12;
        QTest::newRow("leading digits only") << QByteArray("k=8 channels") << 8;
        QTest::newRow("negative") << QByteArray("k=-3") << -3;
        QTest::newRow("plus sign") << QByteArray("k=+4") << 4;
        QTest::newRow("no digits") << QByteArray("k=abc") << 77;
        QTest::newRow("empty") << QByteArray("k=") << 77;
        QTest::newRow("sign only") << QByteArray("k=-") << 77;
        QTest::newRow("absent") << QByteArray("other=1") << 77;
        QTest::newRow("saturates") << QByteArray("k=99999999999") << INT_MAX;
        QTest::newRow("saturates negative") << QByteArray("k=-99999999999") << INT_MIN;
    }
    void getInt() {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        QCOMPARE(Ini_GetInt(Write("[S]\n" + value + "\n"), "s", "K", 77), expected);
    }

    void write_changesOnlyThatLine() {
        const QByteArray before = "; keep me\r\n[I2C]\r\nI2C_ADDR=B0\r\nunknown = 1, 2\r\n\r\n[PATH]\r\nREG_FILE=a\r\n";
        const QString path = Write(before);
        QVERIFY(Ini_WriteString(path, "i2c", "i2c_addr", "5A"));
        QCOMPARE(Read(path),
                 QByteArray("; keep me\r\n[I2C]\r\ni2c_addr=5A\r\nunknown = 1, 2\r\n\r\n[PATH]\r\nREG_FILE=a\r\n"));
        QCOMPARE(Ini_GetString(path, "I2C", "I2C_ADDR", ""), QString("5A"));
    }

    void write_createsWhatIsMissing() {
        const QString path = m_dir.filePath("created.ini");
        QVERIFY(Ini_WriteString(path, "I2C", "I2C_ADDR", "5A"));
        QCOMPARE(Read(path), QByteArray("[I2C]\nI2C_ADDR=5A\n"));

        // New key goes to the end of its own section, before the next one.
        const QString two = Write("[A]\nx=1\n\n[B]\ny=2");
        QVERIFY(Ini_WriteString(two, "A", "z", "3"));
        QVERIFY(Ini_WriteString(two, "C", "w", "4"));
        QCOMPARE(Read(two), QByteArray("[A]\nx=1\nz=3\n\n[B]\ny=2\n[C]\nw=4\n"));
    }

    void write_rawValuesRoundTrip() {
        const QString path = Write("");
        const QString value = "C:\\regs\\a, b \"c\".sf";
        QVERIFY(Ini_WriteString(path, "PATH", "REG_FILE", value));
        QCOMPARE(Ini_GetString(path, "PATH", "REG_FILE", ""), value);
    }

    void write_replacesTheFileInsteadOfRewritingIt() {
        // A reader holding the old file (here: a second link to it) sees the
        // old content whole, never a half-written one.
        const QString path = Write("[A]\nk=1\n");
        const QString old = m_dir.filePath("old-link.ini");
        QFile::remove(old);
        QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(old).constData()), 0);
        QVERIFY(Ini_WriteString(path, "A", "k", "2"));
        QCOMPARE(Read(old), QByteArray("[A]\nk=1\n"));
        QCOMPARE(Read(path), QByteArray("[A]\nk=2\n"));
    }

    void write_refusesWhatWouldCorruptTheFile() {
        const QByteArray before = "[A]\nk=1\n";
        const QString path = Write(before);
        QVERIFY(!Ini_WriteString(path, "A", "k", "two\nlines"));
        QVERIFY(!Ini_WriteString(path, "A", "k=x", "1"));
        QVERIFY(!Ini_WriteString(path, "A]", "k", "1"));
        QVERIFY(!Ini_WriteString(path, "A", "", "1"));
        QCOMPARE(Read(path), before);
    }

    void write_unwritableDirectory_failsAndLeavesNothing() {
        if (geteuid() == 0) QSKIP("root writes everywhere");
        QDir(m_dir.path()).mkdir("ro");
        const QString ro = m_dir.filePath("ro");
        QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QVERIFY(!Ini_WriteString(ro + "/c.ini", "A", "k", "1"));
        QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!QFile::exists(ro + "/c.ini"));
    }
};

QTEST_GUILESS_MAIN(tst_Ini)
#include "tst_ini.moc"
