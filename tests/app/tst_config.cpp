#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/config.h"
#include "app/limits.h"
#include "platform/ini.h"
#include "workers/BoardSession.h"

// Reads the configuration the way the main window does, from a scratch
// working directory.
class tst_Config : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    void Put(const char* name, const QByteArray& content) {
        QFile f(m_dir.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    BoardConfig ReadAll(QStringList* messages = nullptr) { return Config_Read(m_dir.path(), messages); }

private slots:
    void init() {
        for (const char* f : {"system.ini", "config.ini", "Log.txt"})
            QFile::remove(m_dir.filePath(QString::fromLatin1(f)));
    }

    void noFiles_defaults() {
        const BoardConfig c = ReadAll();
        QCOMPARE(c.workDir, m_dir.path());
        QCOMPARE(c.device, QString("No Info"));
        QCOMPARE(Window_Title(c.device), QString("Vantix(TM) Eval. Tool v5.10 - No Info"));
        QCOMPARE(c.family, 0);
        QCOMPARE(c.channels, 0);
        QCOMPARE(c.sbfs, 0);
        QCOMPARE(c.i2cAddress, 0xB0);
        QCOMPARE(Hex2(c.i2cAddress), QString("B0"));
        QCOMPARE(c.registerFile, QString());
        QCOMPARE(c.margin, 0.6f);
    }

    // The files of the directory given are read, not those of the current
    // directory: two boards of one process may have two working directories.
    void readsTheGivenDirectory_notTheCurrentOne() {
        Put("system.ini", "[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n");
        QTemporaryDir other;
        QFile f(other.filePath("system.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[SYSTEM]\nDEVICE=TK1B\nSIZEOFCHANNEL=3\nSIZEOFSBF=1\n");
        f.close();
        const QString oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(other.path()));
        const BoardConfig c = ReadAll();
        QDir::setCurrent(oldCwd);
        QCOMPARE(c.device, QString("TK2C"));
        QCOMPARE(c.family, 4);
        QCOMPARE(c.channels, 8);
    }

    void deviceTable_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("type");
        const std::pair<const char*, int> table[] = {{"TK1A", 3}, {"TK1B", 1}, {"TK2A", 2}, {"TK2B", 3},
                                                     {"TK2C", 4}, {"TK3A", 3}, {"TK4A", 4}, {"TK4B", 4}};
        for (const auto& [m, t] : table) QTest::newRow(m) << QString::fromLatin1(m) << t;
        QTest::newRow("letter case differs") << "tk2c" << 0;
        QTest::newRow("longer name") << "TK2CX" << 0;
        QTest::newRow("unknown") << "XYZ" << 0;
    }
    void deviceTable() {
        QFETCH(QString, model);
        QFETCH(int, type);
        Put("system.ini", "[SYSTEM]\nDEVICE=" + model.toLatin1() + "\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n");
        const BoardConfig c = ReadAll();
        QCOMPARE(c.device, model);
        QCOMPARE(c.family, type);
        QCOMPARE(Window_Title(c.device), "Vantix(TM) Eval. Tool v5.10 - " + model);
        QCOMPARE(c.channels, 8);
        QCOMPARE(c.sbfs, 4);
    }

    void unknownDevice_keepsTheFamilyItHad() {
        QCOMPARE(Device_Lookup("nothing", 3), 3);
        QCOMPARE(Device_Lookup("TK1B", 3), 1);
    }

    void i2cAddress_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("addr");
        QTest::addColumn<QString>("shown");
        QTest::newRow("lower case") << QByteArray("I2C_ADDR=b0") << 0xB0 << "B0";
        QTest::newRow("one digit") << QByteArray("I2C_ADDR=5") << 0x05 << "05";
        QTest::newRow("not hex") << QByteArray("I2C_ADDR=zz") << 0 << "00";
        QTest::newRow("empty") << QByteArray("I2C_ADDR=") << 0 << "00";
        QTest::newRow("key missing") << QByteArray("OTHER=1") << 0xB0 << "B0";
        QTest::newRow("wider than a byte") << QByteArray("I2C_ADDR=1B0") << 0x1B0 << "1B0";
    }
    void i2cAddress() {
        QFETCH(QByteArray, line);
        QFETCH(int, addr);
        QFETCH(QString, shown);
        Put("config.ini", "[I2C]\n" + line + "\n");
        const BoardConfig c = ReadAll();
        QCOMPARE(c.i2cAddress, addr);
        QCOMPARE(Hex2(c.i2cAddress), shown);
    }

    void margin_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<float>("margin");
        QTest::newRow("decimal") << QByteArray("MARGIN=0.75") << 0.75f;
        QTest::newRow("not a number") << QByteArray("MARGIN=abc") << 0.0f;
        QTest::newRow("comma decimal") << QByteArray("MARGIN=0,5") << 0.0f;
        QTest::newRow("nan") << QByteArray("MARGIN=nan") << 0.0f;
        QTest::newRow("inf") << QByteArray("MARGIN=inf") << 0.0f;
        QTest::newRow("missing") << QByteArray("OTHER=1") << 0.6f;
    }
    void margin() {
        QFETCH(QByteArray, line);
        QFETCH(float, margin);
        Put("config.ini", "[AutoSen]\n" + line + "\n");
        QCOMPARE(ReadAll().margin, margin);
    }

    void regFile_isTakenRaw() {
        Put("config.ini", "[PATH]\nREG_FILE = /data/regs, \"v2\"\\a.sf \n");
        QCOMPARE(ReadAll().registerFile, QString("/data/regs, \"v2\"\\a.sf"));
    }

    void outOfRangeCounts_clampedLoggedAndReported_data() {
        QTest::addColumn<QByteArray>("counts");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("sbfs");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("too large") << QByteArray("SIZEOFCHANNEL=17\nSIZEOFSBF=5") << 16 << 4
                                   << QStringList{"system.ini: SIZEOFCHANNEL = 17 is outside 0..16, using 16",
                                                  "system.ini: SIZEOFSBF = 5 is outside 0..4, using 4"};
        QTest::newRow("negative") << QByteArray("SIZEOFCHANNEL=-1\nSIZEOFSBF=2") << 0 << 2
                                  << QStringList{"system.ini: SIZEOFCHANNEL = -1 is outside 0..16, using 0"};
        QTest::newRow("limits themselves") << QByteArray("SIZEOFCHANNEL=16\nSIZEOFSBF=0") << 16 << 0 << QStringList{};
    }
    void outOfRangeCounts_clampedLoggedAndReported() {
        QFETCH(QByteArray, counts);
        QFETCH(int, channels);
        QFETCH(int, sbfs);
        QFETCH(QStringList, expected);
        Put("system.ini", "[SYSTEM]\nDEVICE=TK2C\n" + counts + "\n");
        Put("Log.txt", "earlier record\n");
        QStringList messages;
        const BoardConfig c = ReadAll(&messages);
        QCOMPARE(c.channels, channels);
        QCOMPARE(c.sbfs, sbfs);
        QCOMPARE(messages, expected);

        QFile log(m_dir.filePath("Log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines.value(0), QByteArray("earlier record"));  // appended, not recreated
        QCOMPARE(lines.size(), expected.size() + 2);
        for (int i = 0; i < expected.size(); ++i) {
            const QList<QByteArray> fields = lines[i + 1].split('\t');
            QCOMPARE(fields.value(1), QByteArray("CONFIG"));
            // Same key, value read and value used as the status-bar message.
            QCOMPARE("system.ini: " + fields.value(2), expected[i].toUtf8());
        }
    }

    void writeKey_goesToConfigIniOfTheWorkDir() {
        Put("config.ini", "# user notes\n[I2C]\nI2C_ADDR=B0\n");
        QVERIFY(Config_WriteKey(m_dir.path(), "I2C", "I2C_ADDR", Hex2(0x5A)));
        QCOMPARE(Ini_GetString(m_dir.filePath("config.ini"), "I2C", "I2C_ADDR", ""), QString("5A"));
        QVERIFY(Config_WriteKey(m_dir.path(), "PATH", "REG_FILE", "/tmp/a,b.sf"));
        const BoardConfig c = ReadAll();
        QCOMPARE(c.i2cAddress, 0x5A);
        QCOMPARE(c.registerFile, QString("/tmp/a,b.sf"));
    }

    void portArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("ports");
        QTest::newRow("none") << QStringList{"tkeval"} << QStringList{};
        QTest::newRow("repeated") << QStringList{"tkeval", "--port", "/dev/ttyUSB0", "--port=/tmp/board"}
                                  << QStringList{"/dev/ttyUSB0", "/tmp/board"};
        QTest::newRow("unknown ones ignored")
            << QStringList{"tkeval", "-style", "fusion", "--verbose", "--port", "/p"} << QStringList{"/p"};
        QTest::newRow("missing value") << QStringList{"tkeval", "--port"} << QStringList{};
        QTest::newRow("program name is not an option") << QStringList{"--port"} << QStringList{};
    }
    void portArguments() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, ports);
        QCOMPARE(Parse_PortArgs(args), ports);
    }
};

QTEST_GUILESS_MAIN(tst_Config)
#include "tst_config.moc"
