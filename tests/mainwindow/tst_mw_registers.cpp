#include <QtTest>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/mw_harness.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "views/RegisterCell.h"
#include "workers/BoardSession.h"

namespace {

// Letter and payload of every command frame the board received, e.g. "WB00B0121".
QList<QByteArray> Commands(const MwHarness& h, const QByteArray& letters) {
    QList<QByteArray> out;
    for (const SimFrame& f : h.sim()->log()->frames()) {
        if (f.body.size() < 2 || !letters.contains(f.body[1])) continue;
        out << QByteArray::fromStdString(f.body.substr(1));
    }
    return out;
}

// Devices probed at register 0x00, one register, in order.
QList<int> Probes(const MwHarness& h) {
    QList<int> out;
    for (const QByteArray& p : h.payloads('R'))
        if (p.mid(2) == "0001") out << p.left(2).toInt(nullptr, 16);
    return out;
}

}  // namespace

// The register table, the cells and the I2C address settings against the
// simulated board with a chip connected.
class tst_MwRegisters : public QObject {
    Q_OBJECT

private slots:
    void cell_returnWritesAndReadsBack_tabSendsNothing() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        QLineEdit* field = h.window()->registerCell(0x20)->ui->lineEdit_data;
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, "1f");
        h.sim()->clearLog();
        QTest::keyClick(field, Qt::Key_Tab);
        QVERIFY(h.settle());
        QVERIFY(Commands(h, "W").isEmpty());

        field->setText("1f");
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(h.settle());
        QCOMPARE(Commands(h, "W"), QList<QByteArray>{"WB020011F"});
        QCOMPARE(field->text(), QString("1F"));
        QCOMPARE(h.window()->registerImage()->value(0x20), 0x1F);

        field->clear();
        QTest::keyClick(field, Qt::Key_Enter);
        QVERIFY(h.settle());
        QVERIFY(h.sim()->wasWritten(0x20, 0x00));
        QCOMPARE(field->text(), QString("00"));
    }

    void reset_writesBitRestoresPulsesAndReads_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("image");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("family 1") << "TK1B" << 0x0B << 0x20
                                  << QList<QByteArray>{"WB00B0121", "WB00B0120", "O00", "O01"};
        QTest::newRow("family 2") << "TK2A" << 0x06 << 0x05
                                  << QList<QByteArray>{"WB0060185", "WB0060105", "O01", "O00"};
    }
    void reset_writesBitRestoresPulsesAndReads() {
        QFETCH(QString, model);
        QFETCH(int, reg);
        QFETCH(int, image);
        QFETCH(QList<QByteArray>, expected);
        MwOptions o;
        o.model = model.toStdString();
        o.channels = 4;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.window()->registerImage()->store(reg, static_cast<uint8_t>(image));
        h.sim()->clearLog();
        h.window()->ui->pushButton_Reset->click();
        QVERIFY(!h.window()->ui->pushButton_Reset->isEnabled());
        QVERIFY(h.settle());
        QCOMPARE(Commands(h, "WO"), expected);
        // Then the whole table (64 cells: eight runs), after the pulse.
        const QList<QByteArray> all = Commands(h, "WOR");
        const int pulseEnd = all.indexOf(expected.last());
        int tableReads = 0;
        for (int i = pulseEnd + 1; i < all.size(); ++i) tableReads += all[i].endsWith("08");
        QCOMPARE(tableReads, 8);
        QVERIFY(h.window()->ui->pushButton_Reset->isEnabled());
    }

    // Read asked for again from inside a running read (as the chip-found slot
    // or a file load do): one nested pass is not interleaved, the table is
    // read once more afterwards.
    void readDuringRead_readsAgainAfterwards() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        h.sim()->clearLog();
        // Asked for when the first frame's cells are shown, so always while
        // the read runs.
        QLineEdit* first = h.window()->registerCell(0x00)->ui->lineEdit_data;
        first->clear();
        QMetaObject::Connection nested;
        nested = connect(first, &QLineEdit::textChanged, w, [w, &nested] {
            QObject::disconnect(nested);
            w->onReadClicked();
        });
        w->onReadClicked();
        QVERIFY(h.settle());
        QObject::disconnect(nested);
        QList<QByteArray> runs;
        for (const QByteArray& p : h.payloads('R'))
            if (p.endsWith("08")) runs << p;
        QCOMPARE(runs.size(), 16);
        for (int i = 0; i < 16; ++i) QCOMPARE(runs[i], QString::asprintf("B0%02X08", (i % 8) * 8).toLatin1());
        QVERIFY(w->ui->pushButton_Read->isEnabled());
    }

    void ok_appliesStoresAndNormalises_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("addr");
        QTest::addColumn<QString>("shown");
        QTest::newRow("lower case") << "b4" << 0xB4 << "B4";
        QTest::newRow("beyond a byte") << "1B0" << 0x1B0 << "1B0";
        QTest::newRow("empty") << "" << 0 << "00";
    }
    void ok_appliesStoresAndNormalises() {
        QFETCH(QString, typed);
        QFETCH(int, addr);
        QFETCH(QString, shown);
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.window()->ui->lineEdit_I2C_ADDR->setText(typed);
        h.window()->ui->pushButton_Setting_OK->click();
        QCOMPARE(h.window()->session()->i2cAddress(), addr);
        QCOMPARE(h.window()->ui->lineEdit_I2C_ADDR->text(), shown);
        QVERIFY(h.readFile("config.ini").contains("[I2C]\nI2C_ADDR=" + shown.toLatin1() + "\n"));
        if (addr == 0x1B0) {
            // Only the low byte goes to the board: the chip at B0 still answers.
            h.sim()->clearLog();
            QTRY_VERIFY_WITH_TIMEOUT(!Probes(h).isEmpty(), 10000);
            QCOMPARE(Probes(h).first(), 0xB0);
            QVERIFY(h.window()->session()->chipPresent());
        }
    }

    void search_stopsAtFirstAnsweringAddress() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.sim()->setAddr(0xB6);
        h.sim()->clearLog();
        // A second search asked for while the first runs is not run.
        QTimer::singleShot(0, h.window(), [&] { h.window()->onSearchI2cClicked(); });
        h.window()->ui->pushButton_Setting_SearchI2C->click();
        QVERIFY(h.settle());
        QCOMPARE(h.window()->session()->i2cAddress(), 0xB6);
        QCOMPARE(h.window()->ui->lineEdit_I2C_ADDR->text(), QString("B6"));
        QVERIFY(h.readFile("config.ini").contains("I2C_ADDR=B6\n"));
        const QList<int> probes = Probes(h);
        QCOMPARE(probes.count(0xB2), 1);
        QCOMPARE(probes.count(0xB4), 1);
        QCOMPARE(probes.count(0xB6), 1);
        for (int a = 0xB8; a <= 0xBE; a += 2) QVERIFY(!probes.contains(a));
    }

    void search_nothingAnswers_changesNothing() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.sim()->setAddr(0xC0);
        const QByteArray config = h.readFile("config.ini");
        h.window()->ui->pushButton_Setting_SearchI2C->click();
        QVERIFY(h.settle(20000));
        QCOMPARE(h.window()->session()->i2cAddress(), 0xB0);
        QCOMPARE(h.window()->ui->lineEdit_I2C_ADDR->text(), QString("B0"));
        QCOMPARE(h.readFile("config.ini"), config);
        QCOMPARE(Probes(h).count(0xBE), 1);
    }

    void test_resendsFamily() {
        MwOptions o;
        o.model = "TK1A";
        o.debugFile = true;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.sim()->clearLog();
        h.window()->ui->pushButton_TEST->click();
        QVERIFY(h.settle());
        QCOMPARE(h.payloads('D'), QList<QByteArray>{"03"});
    }
};

QTEST_MAIN(tst_MwRegisters)
#include "tst_mw_registers.moc"
