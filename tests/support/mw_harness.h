// End-to-end fixture for main window tests: a fresh working directory with the
// INI and hint files, the simulated board behind a pseudo-terminal, and the
// main window connected to it the way an engineer connects. Exchanges get five
// times the tool's reply time-out, as the in-process board may be slow to answer
// on a loaded machine.
//
//   MwHarness h;                      // TK2C, 8 channels, 4 SBFs, chip at B0
//   QVERIFY2(h.start(), qPrintable(h.error()));
//   h.window()->pushButton_Read->click();
//   QTRY_VERIFY(h.sim()->log()->count('R') > 0);
//
// The destructor closes the window (which ends its threads), stops the board
// and puts every process-wide value back to its start value, so the next test
// begins clean. Use one harness per test function.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>
#include <cstdint>
#include <memory>
#include <string>

#include "link/BoardLink.h"
#include "workers/BoardSession.h"

class MainWindow;
class SimPtyHost;

struct MwOptions {
    // system.ini
    std::string model = "TK2C";  // also the simulated chip's model
    int channels = 8;
    int sbf = 4;
    bool writeSystemIni = true;
    // config.ini
    int i2cAddr = 0xB0;
    QString margin = QStringLiteral("0.6");
    QByteArray extraConfig;  // appended verbatim, e.g. "[PATH]\nREG_FILE=/tmp/x.sf\n"
    bool writeConfigIni = true;
    // hint.txt: one "[Rxx]" line per address in hintAddrs (default 0x00-0x3F),
    // unless hintText is given, which is written as it stands.
    QVector<int> hintAddrs = DefaultHintAddrs();
    QByteArray hintText;
    bool writeHint = true;
    bool debugFile = false;  // DEBUG.txt
    // The simulated board; the chip's I2C address there.
    bool startSim = true;
    int simChipAddr = 0xB0;
    // Connect to the board and wait for the chip and the first table read.
    bool connect = true;
    int waitMs = 8000;

    static QVector<int> DefaultHintAddrs();
};

class MwHarness {
public:
    explicit MwHarness(const MwOptions& options = MwOptions());
    ~MwHarness();
    MwHarness(const MwHarness&) = delete;
    MwHarness& operator=(const MwHarness&) = delete;

    // Files, board, window and (unless options.connect is false) connection.
    // False with a reason in error() when any step fails.
    bool start();
    QString error() const { return m_error; }

    // Port search with the board as a command-line port, then the user's
    // choice of the board's path in the port list. Waits until the port is
    // open, the chip answers and its first table read has finished.
    bool connectBoard();
    // The same choice without waiting for anything: the port is put to use
    // once it has settled (settle() waits for that).
    void choosePort(const QString& path);
    // Waits until a chosen port has settled and every exchange the window
    // has queued has finished and its result has been shown; false after
    // timeoutMs.
    bool settle(int timeoutMs = 10000);
    // Waits until the chip is seen (the session's chipPresent and the Read button back).
    bool waitForChip(int timeoutMs);
    // Stores bytes in the link's traffic ring as the receive thread does,
    // without its signal; returns the ring's new write count.
    int32_t storeReceived(const QByteArray& bytes);
    // The board's state as a failed wait should report it: port, chip (and
    // how often it was counted as gone), Sense, the monitored channels.
    QString describe() const;

    // Payloads (the characters after the command letter) of the command frames
    // with that letter that the board received, in order; all frames for 0.
    QList<QByteArray> payloads(char letter) const;

    MainWindow* window() const { return m_window; }
    SimPtyHost* sim() const { return m_sim.get(); }
    QString simPath() const;
    QString dir() const { return m_dir ? m_dir->path() : QString(); }
    QString filePath(const QString& name) const;
    QByteArray readFile(const QString& name) const;
    bool writeFile(const QString& name, const QByteArray& content) const;

    // Closes and deletes the window, stops the board and restores the
    // previous working directory. Called by the destructor; safe twice.
    void tearDown();

    // "[Rxx]" lines for the given addresses, empty lines elsewhere, up to the
    // highest address.
    static QByteArray HintFor(const QVector<int>& addrs);

private:
    bool writeFiles();

    MwOptions m_options;
    QString m_error;
    QString m_oldCwd;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimPtyHost> m_sim;
    MainWindow* m_window = nullptr;
    int m_chipLosses = 0;
};

// Accepts every message box that shows up while it lives, from a timer (never
// by sleeping), and keeps their texts. A box is answered with its default
// button, or with answer() when one was set.
//
//   MessageBoxCatcher boxes;
//   h.choosePort("/nonexistent");
//   QTRY_COMPARE(boxes.count(), 1);
//   QVERIFY(boxes.texts().first().contains("invalid"));
class MessageBoxCatcher : public QObject {
    Q_OBJECT
public:
    explicit MessageBoxCatcher(QObject* parent = nullptr);
    int count() const { return m_texts.size(); }
    QStringList texts() const { return m_texts; }
    QStringList titles() const { return m_titles; }
    QString last() const { return m_texts.isEmpty() ? QString() : m_texts.last(); }
    void clear();
    // Button to press instead of the default one (a QMessageBox::StandardButton).
    void setAnswer(int standardButton) { m_answer = standardButton; }

private slots:
    void poll();

private:
    QTimer m_timer;
    QStringList m_texts;
    QStringList m_titles;
    int m_answer = 0;
};

// Waits (dispatching events) for the next message box, accepts it and returns
// its text; empty when none came within timeoutMs.
QString Accept_Next_MessageBox(int timeoutMs = 5000);
