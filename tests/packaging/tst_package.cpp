#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The installed tree and the Debian package, built from this build folder into
// scratch folders, and the programs started from both the way a fresh user
// would: no HOME contents, started outside any prepared folder.
class tst_Package : public QObject {
    Q_OBJECT

    QString m_build;
    QTemporaryDir m_tmp;

    struct Run {
        int code = -1;
        QByteArray out;
    };
    static Run Exec(const QString& program, const QStringList& args, const QProcessEnvironment& env = {},
                    const QString& cwd = {}, const QByteArray& input = {}, int timeoutMs = 300000) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setProcessEnvironment(env.isEmpty() ? QProcessEnvironment::systemEnvironment() : env);
        if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
        p.start(program, args);
        Run r;
        if (!p.waitForStarted(30000)) {
            r.out = "could not start " + program.toLocal8Bit();
            return r;
        }
        if (!input.isNull()) {
            p.write(input);
            p.closeWriteChannel();
        }
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            r.out = p.readAll() + "\n(timed out)";
            return r;
        }
        r.out = p.readAll();
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return r;
    }
    static QString Tool(const char* name) { return QStandardPaths::findExecutable(QString::fromLatin1(name)); }

    // Starts the GUI program below root as from the desktop menu of a new
    // user, and checks that it comes up and makes its working folder.
    void StartFreshUser(const QString& root) {
        QTemporaryDir home(m_tmp.filePath(QStringLiteral("home-XXXXXX")));
        QTemporaryDir start(m_tmp.filePath(QStringLiteral("start-XXXXXX")));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TKEVAL_EXIT_WHEN_SHOWN"), QStringLiteral("1"));
        const Run r = Exec(root + "/usr/bin/tkeval", {}, env, start.path(), QByteArray(), 60000);
        QVERIFY2(r.code == 0 && r.out.contains("shown"), r.out.constData());
        const QDir work(home.filePath(QStringLiteral(".config/tkeval")));
        for (const char* f : {"system.ini", "config.ini", "hint.txt", "Log.txt"})
            QVERIFY2(work.exists(QString::fromLatin1(f)), f);
        QVERIFY(QFile(work.filePath(QStringLiteral("Log.txt"))).size() > 0);
        QVERIFY2(QDir(start.path()).isEmpty(), "nothing is written where the program was started");

        // The simulated board comes up, names its port and ends on quit.
        const Run sim = Exec(root + "/usr/bin/tkeval-sim", {QStringLiteral("--link"), start.filePath("board")}, env,
                             start.path(), "quit\n", 60000);
        QVERIFY2(sim.code == 0 && sim.out.startsWith("/dev/pts/"), sim.out.constData());
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        m_build = QFileInfo(QStringLiteral(TKEVAL_APP_EXE)).absolutePath();
        if (Tool("cmake").isEmpty()) QSKIP("cmake is not installed");
    }

    void installTree() {
        const QString dest = m_tmp.filePath(QStringLiteral("dest"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), dest);
        const Run r = Exec(Tool("cmake"), {"--install", m_build, "--prefix", "/usr"}, env);
        QVERIFY2(r.code == 0, r.out.constData());

        const QDir usr(dest + "/usr");
        for (const char* f : {"bin/tkeval", "bin/tkeval-sim"}) {
            QVERIFY2(QFileInfo(usr.filePath(f)).isExecutable(), f);
        }
        for (const char* f :
             {"lib/udev/rules.d/70-tkeval.rules", "share/man/man1/tkeval.1.gz", "share/man/man1/tkeval-sim.1.gz",
              "share/tkeval/examples/system.ini", "share/tkeval/examples/config.ini", "share/tkeval/examples/hint.txt",
              "share/doc/tkeval/copyright", "share/bash-completion/completions/tkeval-cli"}) {
            QVERIFY2(QFileInfo(usr.filePath(f)).size() > 0, f);
        }
        for (int size : {48, 128, 256}) {
            QImageReader icon(usr.filePath(QStringLiteral("share/icons/hicolor/%1x%1/apps/tkeval.png").arg(size)));
            QCOMPARE(icon.size(), QSize(size, size));
        }

        const QString desktop = usr.filePath(QStringLiteral("share/applications/tkeval.desktop"));
        QSettings entry(desktop, QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        QVERIFY(QFileInfo(usr.filePath("bin/" + entry.value("Exec").toString().section(' ', 0, 0))).isExecutable());
        QVERIFY(QFileInfo::exists(
            usr.filePath("share/icons/hicolor/48x48/apps/" + entry.value("Icon").toString() + ".png")));
        if (Tool("desktop-file-validate").isEmpty()) QSKIP("desktop-file-validate is not installed");
        const Run v = Exec(Tool("desktop-file-validate"), {desktop});
        QVERIFY2(v.code == 0 && v.out.trimmed().isEmpty(), v.out.constData());
    }

    void installedStartsForANewUser() {
        const QString dest = m_tmp.filePath(QStringLiteral("dest"));
        if (!QFileInfo::exists(dest + "/usr/bin/tkeval")) QSKIP("needs installTree");
        StartFreshUser(dest);
    }

    void debianPackage() {
        for (const char* t : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "dpkg"})
            if (Tool(t).isEmpty()) QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(t)));
        const QString out = m_tmp.filePath(QStringLiteral("pkg"));
        const Run r =
            Exec(Tool("cpack"), {"-G", "DEB", "--config", m_build + "/CPackConfig.cmake", "-B", out}, {}, m_build);
        QVERIFY2(r.code == 0, r.out.constData());

        QFile top(QStringLiteral(TKEVAL_SOURCE_DIR "/CMakeLists.txt"));
        QVERIFY(top.open(QIODevice::ReadOnly));
        const QString version = QRegularExpression(QStringLiteral("project\\(tkeval[^)]*VERSION ([0-9.]+)"))
                                    .match(QString::fromUtf8(top.readAll()))
                                    .captured(1);
        QVERIFY(!version.isEmpty());
        const QString arch = QString::fromLatin1(Exec(Tool("dpkg"), {"--print-architecture"}).out.trimmed());
        const QString deb = out + QStringLiteral("/tkeval_%1_%2.deb").arg(version, arch);
        QVERIFY2(QFileInfo::exists(deb), qPrintable(deb));

        const Run fields = Exec(Tool("dpkg-deb"), {"-f", deb, "Package", "Version", "Depends"});
        QVERIFY2(fields.code == 0, fields.out.constData());
        QVERIFY2(fields.out.contains("Version: " + version.toLatin1()), fields.out.constData());
        // From dpkg-shlibdeps, plus the platform plugin it cannot see.
        for (const char* dep : {"libc6", "libqt6widgets6", "libqt6core6", "qt6-qpa-plugins"})
            QVERIFY2(fields.out.contains(dep), qPrintable(QStringLiteral("%1 missing in %2").arg(dep, fields.out)));

        const Run list = Exec(Tool("dpkg-deb"), {"-c", deb});
        QVERIFY2(list.code == 0, list.out.constData());
        for (const char* f : {"./usr/bin/tkeval", "./usr/bin/tkeval-sim", "./usr/lib/udev/rules.d/70-tkeval.rules",
                              "./usr/share/applications/tkeval.desktop", "./usr/share/doc/tkeval/copyright",
                              "./usr/bin/tkeval-cli", "./usr/share/bash-completion/completions/tkeval-cli"})
            QVERIFY2(list.out.contains(QByteArray(" ") + f + "\n"), f);
        QVERIFY2(!list.out.contains(m_build.toLocal8Bit()), "no build path inside the package");
        // Every entry belongs to root, whoever built the package.
        for (const QByteArray& line : list.out.split('\n'))
            if (!line.isEmpty()) QVERIFY2(line.contains(" root/root "), line.constData());

        const Run control = Exec(Tool("dpkg-deb"), {"-I", deb});
        QVERIFY2(control.out.contains("postinst") && control.out.contains("postrm"), control.out.constData());

        const QString root = m_tmp.filePath(QStringLiteral("extracted"));
        const Run x = Exec(Tool("dpkg-deb"), {"-x", deb, root});
        QVERIFY2(x.code == 0, x.out.constData());
        StartFreshUser(root);
    }
};

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
