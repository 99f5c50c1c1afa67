// The operator window on the main window's simulated board: a scanner's
// Enter starts the test, the verdict and counts follow, the record is stored,
// and the settings come back from config.ini.
#include <QSignalSpy>
#include <QtTest>

#include "app/config.h"
#include "app/limits.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/mw_harness.h"
#include "ui_MainWindow.h"
#include "views/ProductionWindow.h"
#include "workers/BoardSession.h"

class tst_ProductionWindow : public QObject {
    Q_OBJECT

private slots:
    void passThenFail_countsAndStoresEachRun();
    void refusedLimits_showTheReasonAndStartNothing();
    void closedWhileWritingToASilentBoard_skipsTheRestOfTheWrites();

private:
    static void writeLimits(MwHarness& h, const QByteArray& channels);
    static ProductionWindow* open(MwHarness& h);
};

void tst_ProductionWindow::writeLimits(MwHarness& h, const QByteArray& channels) {
    QVERIFY(h.writeFile("golden.sf", "w1010\nw2040\n"));
    QVERIFY(h.writeFile("limits.json",
                        "{\"format\": \"tkeval limits 1\", \"name\": \"panel B\", \"device\": \"TK2C\",\n"
                        " \"channels\": " +
                            channels +
                            ", \"registers\": \"golden.sf\", \"samples\": 5,\n"
                            " \"limits\": {\"noise_pp\": {\"max\": 10}, \"reference\": {\"min\": 8000}}}\n"));
}

ProductionWindow* tst_ProductionWindow::open(MwHarness& h) {
    h.window()->ui->actionProductionTest->trigger();
    return h.window()->findChild<ProductionWindow*>();
}

void tst_ProductionWindow::passThenFail_countsAndStoresEachRun() {
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    h.sim()->setNoise(1, 3);
    writeLimits(h, "[1, 2]");
    const quint16 monitoredBefore = h.window()->session()->monitoredChannels();
    ProductionWindow* w = open(h);
    QVERIFY(w);
    QVERIFY(w->setLimitsFile(h.filePath("limits.json")));
    QCOMPARE(w->windowTitle(), QStringLiteral("Production test - panel B"));
    QSignalSpy recorded(w, &ProductionWindow::runRecorded);

    w->setSerial("SN-1");
    QTest::keyClick(w->serialField(), Qt::Key_Return);
    QVERIFY(w->running());
    // The main window's Sense button shows what the run does, and goes back.
    QTRY_VERIFY_WITH_TIMEOUT(h.window()->ui->pushButton_Sense->isChecked(), 10000);
    QVERIFY(recorded.wait(30000));
    QTRY_VERIFY(!h.window()->ui->pushButton_Sense->isChecked());
    QCOMPARE(w->verdictText(), QStringLiteral("PASS"));
    const TestRecord first = recorded.at(0).at(0).value<TestRecord>();
    QCOMPARE(first.serial, QStringLiteral("SN-1"));
    QCOMPARE(first.firmware, QStringLiteral("v3.2"));
    QCOMPARE(first.port, h.simPath());
    QVERIFY2(recorded.at(0).at(1).toString().startsWith("stored in sqlite:"),
             qPrintable(recorded.at(0).at(1).toString()));

    h.sim()->withBoard([](SimBoard& b, uint32_t) { b.chip().setChannelNoise(1, 40); });
    w->setSerial("SN-2");
    QTest::keyClick(w->serialField(), Qt::Key_Return);
    QVERIFY(recorded.wait(30000));
    QCOMPARE(w->verdictText(), QStringLiteral("FAIL"));
    QCOMPARE(w->tested(), 2);
    QCOMPARE(w->passed(), 1);
    QCOMPARE(w->failed(), 1);
    QVERIFY(QFile::exists(h.filePath("results.db")));
    // Monitoring is back as the test found it.
    QVERIFY(!h.window()->session()->sensing());
    QCOMPARE(h.window()->session()->monitoredChannels(), monitoredBefore);

    // A window opened later remembers the limits file.
    delete w;
    ProductionWindow* again = open(h);
    QCOMPARE(again->windowTitle(), QStringLiteral("Production test - panel B"));
    QCOMPARE(Config_ReadKey(h.dir(), "PRODUCTION", "LIMITS"), h.filePath("limits.json"));
}

void tst_ProductionWindow::refusedLimits_showTheReasonAndStartNothing() {
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    writeLimits(h, "[1, 9]");
    ProductionWindow* w = open(h);
    QVERIFY(!w->setLimitsFile(h.filePath("limits.json")));
    QCOMPARE(w->verdictText(), QStringLiteral("ERROR"));
    w->setSerial("SN-1");
    QVERIFY(!w->startTest());
    QVERIFY(!w->running());
}

// The run writes its golden registers on its own thread; a board that stops
// answering makes each write wait out its time-outs. Closed then, the window
// must not sit out every remaining write before it goes.
void tst_ProductionWindow::closedWhileWritingToASilentBoard_skipsTheRestOfTheWrites() {
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    writeLimits(h, "[1]");
    QByteArray golden;
    for (int a = 0; a < 40; ++a) golden += QString::asprintf("w%02X%02X\n", 0x10 + a, a).toLatin1();
    QVERIFY(h.writeFile("golden.sf", golden));
    ProductionWindow* w = open(h);
    QVERIFY(w);
    QVERIFY(w->setLimitsFile(h.filePath("limits.json")));
    h.sim()->setSilent(true);
    h.sim()->clearLog();
    w->setSerial("SN-3");
    QTest::keyClick(w->serialField(), Qt::Key_Return);
    QVERIFY(w->running());
    QTRY_VERIFY_WITH_TIMEOUT(!h.payloads('W').isEmpty(), 10000);

    delete w;
    // Without the skip, each of the 40 writes would go out three times.
    QVERIFY2(h.payloads('W').size() < 10, qPrintable(QString::number(h.payloads('W').size())));
    h.sim()->setSilent(false);
}

QTEST_MAIN(tst_ProductionWindow)
#include "tst_ProductionWindow.moc"
