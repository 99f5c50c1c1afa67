// Shared checks of the fault tests: the window still answers, the lamps and
// the chip widgets say what is true, and a fresh board can be connected.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/config.h"
#include "app/limits.h"
#include "link/BoardLink.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/mw_harness.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "views/ChannelIndicator.h"
#include "workers/BoardSession.h"

namespace faults {

inline bool Shows(const QLabel* label, const QString& path) {
    return label->pixmap().toImage() == QPixmap(path).toImage();
}
inline const QString kGreen = QStringLiteral(":/NV_EV_Kit/Resources/green_circle.png");
inline const QString kGrey = QStringLiteral(":/NV_EV_Kit/Resources/grey_circle.png");

// Counts zero-delay timer shots, re-arming after each: the count grows only
// while the GUI thread dispatches events, also inside a slot that waits for
// the board.
class Heartbeat : public QObject {
public:
    Heartbeat() { arm(); }
    int beats() const { return m_beats; }

private:
    void arm() {
        QTimer::singleShot(0, this, [this] {
            ++m_beats;
            // Spaced a little, so that the beat does not keep the event
            // loop from ever finding its queue empty.
            QTimer::singleShot(5, this, [this] { arm(); });
        });
    }
    int m_beats = 0;
};

// A zero-delay timer posted now fires: nothing holds the GUI thread.
inline bool WindowAnswers(int timeoutMs = 5000) {
    bool fired = false;
    QObject guard;
    QTimer::singleShot(0, &guard, [&fired] { fired = true; });
    QElapsedTimer t;
    t.start();
    while (!fired && t.elapsed() < timeoutMs) QTest::qWait(5);
    return fired;
}

inline bool ChipWidgetsEnabled(MainWindow* w, bool enabled) {
    const QWidget* chip[] = {w->ui->groupBox_Key, w->ui->frame_reg, w->ui->pushButton_Reset, w->ui->pushButton_Read,
                             w->ui->pushButton_Sense};
    for (const QWidget* c : chip)
        if (c->isEnabled() != enabled) return false;
    return true;
}

// Every lamp shows whether its bit of mask is set.
inline bool LampsShow(MainWindow* w, int mask) {
    const int family = w->session()->family();
    const QImage on = QPixmap(ChannelIndicator::TouchedImagePath(family)).toImage();
    const QImage off = QPixmap(ChannelIndicator::IdleImagePath(family)).toImage();
    for (int i = 0; i < w->session()->channelCount() && i < kSinSlots; ++i) {
        if (w->channelIndicators[i] == nullptr) continue;
        const QImage shown = w->channelIndicators[i]->ui->label_SIN_ICON->pixmap().toImage();
        if (shown != (((mask >> i) & 1) ? on : off)) return false;
    }
    return true;
}

// Monitoring as the button shows it: never on behind an unchecked button.
inline bool SenseMatchesButton(MainWindow* w) {
    return w->session()->sensing() == w->ui->pushButton_Sense->isChecked();
}

// After a pull: both lamps grey, chip widgets off, monitoring off, "NONE".
inline void VerifyDisconnected(MainWindow* w) {
    QVERIFY(!w->link()->isLive());
    QVERIFY(!w->session()->chipPresent());
    QVERIFY(Shows(w->ui->label_UART_Status, kGrey));
    QVERIFY(Shows(w->ui->label_I2C_Status, kGrey));
    QVERIFY(ChipWidgetsEnabled(w, false));
    QVERIFY(!w->ui->pushButton_Sense->isChecked());
    QVERIFY(!w->session()->sensing());
    QCOMPARE(w->ui->comboBox_COM->currentText(), QStringLiteral("NONE"));
}

// Port open, chip answering, both lamps green, chip widgets on.
inline void VerifyChipAnswering(MainWindow* w) {
    QVERIFY(w->link()->isLive());
    QVERIFY(w->session()->chipPresent());
    QVERIFY(Shows(w->ui->label_UART_Status, kGreen));
    QVERIFY(Shows(w->ui->label_I2C_Status, kGreen));
    QVERIFY(ChipWidgetsEnabled(w, true));
    QVERIFY(SenseMatchesButton(w));
}

// One warning for the pull, and still one after the next probe has come and
// gone: a lost board is reported once, not once per failed exchange.
inline void VerifyOneWarning(MessageBoxCatcher& boxes, const QString& path) {
    QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 5000);
    QCOMPARE(boxes.titles().first(), QStringLiteral("WARNING"));
    QVERIFY2(boxes.last().startsWith(path), qPrintable(boxes.last()));
    QVERIFY(boxes.last().contains(QStringLiteral("The port number is invalid.")));
    QTest::qWait(1300);  // past the next probe: a second box would be there by now
    QCOMPARE(boxes.count(), 1);
}

// The engineer plugs a board in again (a new line, like a replugged bridge)
// and picks it: the chip is found, the table is read, a touch lights its lamp.
inline void VerifyReconnect(MwHarness& h, const std::string& model = "TK2C", int channels = 8) {
    auto board = std::make_unique<SimPtyHost>(model, channels, 4);
    std::string why;
    QVERIFY2(board->start(std::string(), &why), why.c_str());
    const QString path = QString::fromStdString(board->slavePath());
    h.window()->setCommandLinePorts({path});
    h.choosePort(path);
    QVERIFY2(h.waitForChip(8000), "the chip on the new board was not seen");
    MainWindow* w = h.window();
    VerifyChipAnswering(w);
    QTRY_VERIFY_WITH_TIMEOUT(board->log()->count('R') > 1, 5000);
    QVERIFY(board->touch(1));
    QTRY_VERIFY_WITH_TIMEOUT(LampsShow(w, 0x0002), 5000);
    QVERIFY(board->release(1));
    QTRY_VERIFY_WITH_TIMEOUT(LampsShow(w, 0), 5000);
    // Gone before the harness tears the window down, like an unplugged cable.
    h.choosePort(QStringLiteral("NONE"));
    board->stop();
}

}  // namespace faults
