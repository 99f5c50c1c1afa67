// Files in the working directory that hold nonsense: absurd numbers, binary
// garbage, enormous lines. The tool must start, use safe values, say what it
// corrected, and never lose the rest of a file it writes back.
#include <QLineEdit>
#include <QStatusBar>
#include <QToolTip>
#include <QtTest>

#include "app/limits.h"
#include "platform/ini.h"
#include "sim/SimPtyHost.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "views/ChannelIndicator.h"
#include "views/RegisterCell.h"
#include "workdir_fixture.h"
#include "workers/BoardSession.h"

namespace {

QByteArray Garbage(int n, quint32 seed) {
    QByteArray out;
    quint32 x = seed;
    for (int i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        out += static_cast<char>(x >> 23);
    }
    return out;
}

int SinCount(MainWindow* w) {
    int n = 0;
    for (ChannelIndicator* s : w->channelIndicators) n += s != nullptr;
    return n;
}

int CellCount(const MainWindow* w) {
    int n = 0;
    for (int a = 0; a < 256; ++a) n += w->registerCell(a) != nullptr;
    return n;
}

// A literal with its NULs: QByteArray from a plain literal stops at the first.
template <size_t N>
QByteArray Raw(const char (&s)[N]) {
    return QByteArray(s, N - 1);
}

QString StatusText(MainWindow* w) { return w->ui->statusBar->currentMessage(); }

}  // namespace

class tst_BadFiles : public QObject {
    Q_OBJECT

private slots:
    void systemIni_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("sbf");
        QTest::addColumn<bool>("corrected");
        QTest::newRow("huge counts") << QByteArray(
                                            "[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=99999999999999999999999\n"
                                            "SIZEOFSBF=4444444444\n")
                                     << 16 << 4 << true;
        QTest::newRow("negative counts")
            << QByteArray("[SYSTEM]\r\nDEVICE=TK2C\r\nSIZEOFCHANNEL=-5\r\nSIZEOFSBF=-2147483649\r\n") << 0 << 0 << true;
        QTest::newRow("binary garbage") << Garbage(4096, 7) << 0 << 0 << false;
        QTest::newRow("garbage around good keys")
            << (Garbage(300, 3).replace('[', '(') + Raw("\n[SYSTEM]\nDEVICE=\xff\xfe\x01\nSIZEOFCHANNEL=8\x00\x01\n") +
                Garbage(200, 4).replace('[', '(') + "\nSIZEOFSBF=2\n")
            << 8 << 2 << false;
    }
    void systemIni() {
        QFETCH(QByteArray, ini);
        QFETCH(int, channels);
        QFETCH(int, sbf);
        QFETCH(bool, corrected);
        WorkdirWindow wd;
        QVERIFY(wd.write("system.ini", ini));
        MainWindow* w = wd.open();
        QVERIFY(w);
        QCOMPARE(w->session()->channelCount(), channels);
        QCOMPARE(w->session()->sbfCount(), sbf);
        QCOMPARE(SinCount(w), channels);
        QCOMPARE(StatusText(w).contains(QStringLiteral("outside")), corrected);
        QVERIFY(wd.read("Log.txt").size() > 0);
    }

    // config.ini full of junk: safe values at start, and writing the I2C
    // address back keeps every other byte of the file.
    void configIni_junkKeptWhenWrittenBack() {
        WorkdirWindow wd;
        const QByteArray before = Garbage(2000, 11).replace('[', '(') + "\n[I2C]\nI2C_ADDR=FFFFFFFFFFFFFFFFFFFF\n" +
                                  "[AutoSen]\nMARGIN=1e999\n[PATH]\nREG_FILE=" + QByteArray(5000, 'x') + "\n" +
                                  Garbage(500, 12);
        QVERIFY(wd.write("config.ini", before));
        MainWindow* w = wd.open();
        QVERIFY(w);
        QCOMPARE(w->session()->i2cAddress(), 0);  // unparsable: 0, as typed text would give
        QCOMPARE(w->session()->margin(), 0.0f);
        QVERIFY(w->session()->registerFile().size() <= 1024);

        w->ui->lineEdit_I2C_ADDR->setText(QStringLiteral("B2"));
        w->ui->pushButton_Setting_OK->click();

        const QByteArray after = wd.read("config.ini");
        QCOMPARE(Ini_GetString(wd.file("config.ini"), "I2C", "I2C_ADDR", QString()), QStringLiteral("B2"));
        QByteArray expected = before;
        expected.replace("I2C_ADDR=FFFFFFFFFFFFFFFFFFFF", "I2C_ADDR=B2");
        QCOMPARE(after, expected);
    }

    void hintTxt_garbage() {
        WorkdirWindow wd;
        QByteArray hint = Raw("\x00\xff[A]\n\x01\x02\x03\n[\xff\xfe]\n") + Garbage(3000, 5).replace('\n', ' ') + "\n";
        hint += QByteArray(1 << 20, '[');  // a megabyte on line 4, no line end
        QVERIFY(wd.write("system.ini", "[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n"));
        QVERIFY(wd.write("hint.txt", hint));
        MainWindow* w = wd.open();
        QVERIFY(w);
        QVERIFY(w->registerCell(0));
        QCOMPARE(w->registerCell(0)->ui->label_Addr->toolTip(), QStringLiteral("A"));
        QVERIFY(!w->registerCell(1));
        QVERIFY(w->registerCell(2));
        QCOMPARE(w->registerCell(2)->ui->label_Addr->toolTip(), QString::fromLatin1("\xff\xfe"));
        QVERIFY(CellCount(w) <= 5);
        QVERIFY(!w->registerCell(5));
    }

    // A register file of binary garbage with two good lines in it, loaded
    // into a chip: only those two are written, the rest is counted as skipped.
    void registerFile_garbageLoadsOnlyGoodLines() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        const QByteArray file = Garbage(3000, 9).replace('w', 'v') + "\nw1055\n" + QByteArray(100000, '\0') +
                                "\nw11AA\r\n" + Garbage(1000, 10).replace('w', 'v');
        QVERIFY(h.writeFile("junk.sf", file));
        h.sim()->clearLog();
        FileDialogAnswerer answer(h.filePath("junk.sf"));

        w->ui->pushButton_Load->click();
        QVERIFY(h.settle());

        QCOMPARE(answer.answered(), 1);
        QCOMPARE(h.payloads('W'), (QList<QByteArray>{"B0100155", "B01101AA"}));
        QCOMPARE(h.window()->registerCell(0x10)->ui->lineEdit_data->text(), QStringLiteral("55"));
        QCOMPARE(h.window()->registerCell(0x11)->ui->lineEdit_data->text(), QStringLiteral("AA"));
        QVERIFY2(StatusText(w).contains(QStringLiteral("2 registers written")), qPrintable(StatusText(w)));
        QVERIFY(StatusText(w).contains(QStringLiteral("skipped")));
    }
};

QTEST_MAIN(tst_BadFiles)
#include "tst_bad_files.moc"
