#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/userdir.h"

// Where a start outside a prepared folder works: each row builds a scratch
// tree with a program folder, a home, a start folder and maybe the examples.
class tst_UserDir : public QObject {
    Q_OBJECT

    QString m_oldCwd;
    QByteArray m_oldHome;
    QByteArray m_oldXdg;

    static bool Put(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        return f.write(content) == content.size();
    }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void initTestCase() {
        m_oldCwd = QDir::currentPath();
        m_oldHome = qgetenv("HOME");
        m_oldXdg = qgetenv("XDG_CONFIG_HOME");
    }
    void cleanup() {
        QDir::setCurrent(m_oldCwd);
        qputenv("HOME", m_oldHome);
        if (m_oldXdg.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_oldXdg);
    }

    void enterAtStart_data() {
        QTest::addColumn<QString>("xdg");             // %T = scratch root; "-" = unset
        QTest::addColumn<bool>("startHasSystemIni");  // the start folder is a prepared one
        QTest::addColumn<QString>("examplesAt");      // installed, build or none
        QTest::addColumn<QByteArray>("userSystem");   // already in the user folder
        QTest::addColumn<QByteArray>("userConfig");
        QTest::addColumn<QString>("expectDir");  // "start" or a path with %T
        QTest::addColumn<QString>("noteHas");    // "" = no note
        QTest::addColumn<QByteArray>("expectSystem");
        QTest::addColumn<QByteArray>("expectConfig");

        const QByteArray exSys = "[SYSTEM]\nDEVICE=TK2C\n";
        const QByteArray exCfg = "[I2C]\nI2C_ADDR=B0\n";
        QTest::newRow("prepared start folder stays") << "%T/cfg" << true << "installed" << QByteArray() << QByteArray()
                                                     << "start" << "" << QByteArray("<missing>")
                                                     << QByteArray("<missing>");
        QTest::newRow("first start fills the folder") << "%T/cfg" << false << "installed" << QByteArray()
                                                      << QByteArray() << "%T/cfg/tkeval" << "Created" << exSys << exCfg;
        QTest::newRow("examples beside a built program") << "%T/cfg" << false << "build" << QByteArray() << QByteArray()
                                                         << "%T/cfg/tkeval" << "Created" << exSys << exCfg;
        QTest::newRow("unset: ~/.config") << "-" << false << "installed" << QByteArray() << QByteArray()
                                          << "%T/home/.config/tkeval" << "Created" << exSys << exCfg;
        QTest::newRow("relative is ignored") << "cfg" << false << "installed" << QByteArray() << QByteArray()
                                             << "%T/home/.config/tkeval" << "Created" << exSys << exCfg;
        QTest::newRow("user's config.ini kept") << "%T/cfg" << false << "installed" << QByteArray()
                                                << QByteArray("[I2C]\nI2C_ADDR=5A\n") << "%T/cfg/tkeval" << "system.ini"
                                                << exSys << QByteArray("[I2C]\nI2C_ADDR=5A\n");
        QTest::newRow("later start: nothing copied")
            << "%T/cfg" << false << "installed" << QByteArray("[SYSTEM]\nDEVICE=TK4A\n") << QByteArray()
            << "%T/cfg/tkeval" << "" << QByteArray("[SYSTEM]\nDEVICE=TK4A\n") << QByteArray("<missing>");
        QTest::newRow("no examples") << "%T/cfg" << false << "none" << QByteArray() << QByteArray() << "%T/cfg/tkeval"
                                     << "no example files" << QByteArray("<missing>") << QByteArray("<missing>");
        QTest::newRow("folder cannot be made") << "%T/afile" << false << "installed" << QByteArray() << QByteArray()
                                               << "start" << "Could not create" << QByteArray("<missing>")
                                               << QByteArray("<missing>");
    }
    void enterAtStart() {
        QFETCH(QString, xdg);
        QFETCH(bool, startHasSystemIni);
        QFETCH(QString, examplesAt);
        QFETCH(QByteArray, userSystem);
        QFETCH(QByteArray, userConfig);
        QFETCH(QString, expectDir);
        QFETCH(QString, noteHas);
        QFETCH(QByteArray, expectSystem);
        QFETCH(QByteArray, expectConfig);

        QTemporaryDir t;
        QVERIFY(t.isValid());
        const QString root = QDir(t.path()).canonicalPath();
        const QString appDir = root + "/usr/bin";
        QVERIFY(QDir().mkpath(appDir));
        QVERIFY(QDir().mkpath(root + "/home"));
        QVERIFY(QDir().mkpath(root + "/start"));
        QVERIFY(Put(root + "/afile", "not a folder"));
        if (examplesAt != "none") {
            const QString ex = examplesAt == "installed" ? root + "/usr/share/tkeval/examples"
                                                         : appDir + "/share/tkeval/examples";
            QVERIFY(Put(ex + "/system.ini", "[SYSTEM]\nDEVICE=TK2C\n"));
            QVERIFY(Put(ex + "/config.ini", "[I2C]\nI2C_ADDR=B0\n"));
            QVERIFY(Put(ex + "/hint.txt", "[CHIP ID]\n"));
            // As installed: nobody may write them, yet the copies must be writable.
            QFile::setPermissions(ex + "/config.ini", QFileDevice::ReadOwner | QFileDevice::ReadOther);
        }
        if (startHasSystemIni) QVERIFY(Put(root + "/start/system.ini", "[SYSTEM]\nDEVICE=TK1A\n"));
        const QString userDir = xdg == "%T/cfg" ? root + "/cfg/tkeval" : root + "/home/.config/tkeval";
        if (!userSystem.isEmpty()) QVERIFY(Put(userDir + "/system.ini", userSystem));
        if (!userConfig.isEmpty()) QVERIFY(Put(userDir + "/config.ini", userConfig));

        qputenv("HOME", root.toLocal8Bit() + "/home");
        if (xdg == "-")
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", QString(xdg).replace("%T", root).toLocal8Bit());
        QVERIFY(QDir::setCurrent(root + "/start"));

        const QString note = UserDir_EnterAtStart(appDir);

        const QString dir = expectDir == "start" ? root + "/start" : QString(expectDir).replace("%T", root);
        QCOMPARE(QDir::currentPath(), dir);
        if (noteHas.isEmpty())
            QVERIFY2(note.isEmpty(), qPrintable(note));
        else
            QVERIFY2(note.contains(noteHas), qPrintable(note));
        if (expectDir == "start") {
            QVERIFY(!QFileInfo::exists(root + "/cfg/tkeval/system.ini"));
            return;
        }
        QCOMPARE(Read(dir + "/system.ini"), expectSystem);
        QCOMPARE(Read(dir + "/config.ini"), expectConfig);
        if (QFileInfo::exists(dir + "/config.ini")) {
            // config.ini takes the I2C address and the register file path back.
            QFile cfg(dir + "/config.ini");
            QVERIFY(cfg.open(QIODevice::Append));
        }
    }
};

QTEST_GUILESS_MAIN(tst_UserDir)
#include "tst_userdir.moc"
