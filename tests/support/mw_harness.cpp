#include "mw_harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "app/config.h"
#include "app/limits.h"
#include "link/BoardLink.h"
#include "link/commands.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/exchange_wait.h"
#include "ui_MainWindow.h"
#include "workers/BoardSession.h"

QVector<int> MwOptions::DefaultHintAddrs() {
    QVector<int> addrs;
    for (int a = 0x00; a <= 0x3F; ++a) addrs.append(a);
    return addrs;
}

MwHarness::MwHarness(const MwOptions& options) : m_options(options) {}

MwHarness::~MwHarness() { tearDown(); }

QByteArray MwHarness::HintFor(const QVector<int>& addrs) {
    int top = -1;
    for (int a : addrs) top = qMax(top, a);
    QByteArray text;
    for (int a = 0; a <= top; ++a) {
        if (addrs.contains(a)) text += QStringLiteral("[R%1]").arg(a, 2, 16, QLatin1Char('0')).toUpper().toLatin1();
        text += '\n';
    }
    return text;
}

QString MwHarness::filePath(const QString& name) const { return m_dir ? m_dir->filePath(name) : QString(); }

QByteArray MwHarness::readFile(const QString& name) const {
    QFile f(filePath(name));
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return f.readAll();
}

bool MwHarness::writeFile(const QString& name, const QByteArray& content) const {
    QFile f(filePath(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(content) == content.size();
}

QString MwHarness::simPath() const { return m_sim ? QString::fromStdString(m_sim->slavePath()) : QString(); }

QList<QByteArray> MwHarness::payloads(char letter) const {
    QList<QByteArray> out;
    if (!m_sim) return out;
    for (const SimFrame& f : m_sim->log()->frames()) {
        // "C", the letter, then the payload; judged by the bytes, so that a
        // silent board's frames count as well.
        if (f.body.size() < 2 || f.body[0] != 'C') continue;
        if (letter != 0 && f.body[1] != letter) continue;
        out.append(QByteArray::fromStdString(f.body.substr(2)));
    }
    return out;
}

bool MwHarness::writeFiles() {
    const MwOptions& o = m_options;
    if (o.writeSystemIni) {
        const QByteArray ini = "[SYSTEM]\nDEVICE=" + QByteArray::fromStdString(o.model) +
                               "\nSIZEOFCHANNEL=" + QByteArray::number(o.channels) +
                               "\nSIZEOFSBF=" + QByteArray::number(o.sbf) + "\n";
        if (!writeFile(QStringLiteral("system.ini"), ini)) return false;
    }
    if (o.writeConfigIni) {
        const QByteArray ini = "[I2C]\nI2C_ADDR=" + QByteArray::number(o.i2cAddr, 16).toUpper() +
                               "\n[AutoSen]\nMARGIN=" + o.margin.toLatin1() + "\n" + o.extraConfig;
        if (!writeFile(QStringLiteral("config.ini"), ini)) return false;
    }
    if (o.writeHint) {
        const QByteArray hint = o.hintText.isEmpty() ? HintFor(o.hintAddrs) : o.hintText;
        if (!writeFile(QStringLiteral("hint.txt"), hint)) return false;
    }
    if (o.debugFile && !writeFile(QStringLiteral("DEBUG.txt"), QByteArray())) return false;
    return true;
}

bool MwHarness::start() {
    // The board here lives in this process and shares its cores with the
    // window, the tool's threads and whatever else the machine runs, so it can
    // miss the 100 ms a real board never misses. A missed reply would turn a
    // test of something else into a test of the time-out: a firmware warning
    // while connecting, a chip lost mid-procedure. Time-outs are still tested
    // here, with a silent board, which no reply time-out saves.
    m_oldCwd = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid() || !QDir::setCurrent(m_dir->path())) {
        m_error = QStringLiteral("no working directory");
        return false;
    }
    if (!writeFiles()) {
        m_error = QStringLiteral("could not write the working files");
        return false;
    }
    if (m_options.startSim) {
        m_sim = std::make_unique<SimPtyHost>(m_options.model, m_options.channels, m_options.sbf);
        std::string why;
        if (!m_sim->start(std::string(), &why)) {
            m_error = QStringLiteral("simulated board: ") + QString::fromStdString(why);
            return false;
        }
        m_sim->setAddr(m_options.simChipAddr);
    }
    m_window = new MainWindow();
    m_window->link()->setReplyTimeout(kReplyTimeoutMs * 5);
    QObject::connect(m_window->session(), &BoardSession::chipPresentChanged, m_window, [this](bool present) {
        if (!present) ++m_chipLosses;
    });
    // Discovery lists the simulated board like a port named with --port.
    if (m_options.startSim) m_window->setCommandLinePorts({simPath()});
    m_window->show();
    if (m_options.connect && m_options.startSim) return connectBoard();
    return true;
}

void MwHarness::choosePort(const QString& path) {
    m_window->ui->pushButton_COM_Search->click();
    const int at = m_window->ui->comboBox_COM->findText(path);
    if (at >= 0) m_window->ui->comboBox_COM->setCurrentIndex(at);
    // What the combo box emits when the engineer picks the item.
    emit m_window->ui->comboBox_COM->textActivated(path);
}

bool MwHarness::waitForChip(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (m_window->link()->isLive() && m_window->session()->chipPresent() &&
            m_window->ui->pushButton_Read->isEnabled())
            return true;
        if (t.elapsed() > timeoutMs) return false;
        QTest::qWait(10);
    }
}

int32_t MwHarness::storeReceived(const QByteArray& bytes) {
    ByteRing& ring = m_window->link()->traffic;
    int32_t at = ring.writeCount.load();
    for (char c : bytes) ring.bytes[at++ & kRingMask].store(static_cast<uint8_t>(c));
    ring.writeCount.store(at, std::memory_order_release);
    return at;
}

QString MwHarness::describe() const {
    const BoardSession* s = m_window->session();
    return QStringLiteral("port %1, chip %2 (counted as gone %3 times), Sense %4, monitoring 0x%5")
        .arg(m_window->link()->isLive() ? "live" : "closed", s->chipPresent() ? "present" : "absent")
        .arg(m_chipLosses)
        .arg(m_window->ui->pushButton_Sense->isChecked() ? "on" : "off")
        .arg(s->monitoredChannels(), 4, 16, QLatin1Char('0'));
}

bool MwHarness::connectBoard() {
    if (!m_window || !m_sim) {
        m_error = QStringLiteral("no window or board");
        return false;
    }
    // On a busy machine the firmware request can miss its 100 ms reply
    // time-out, and the window then warns in a modal box, as it must. Left
    // alone, that box would wait for ever; it is answered and the port chosen
    // again, since connecting is not what the suites using this check.
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        MessageBoxCatcher boxes;
        choosePort(simPath());
        // The firmware answer (and any warning about it) comes after the
        // choice returns.
        if (!settle(m_options.waitMs)) {
            m_error = QStringLiteral("the window's exchanges did not finish");
            return false;
        }
        if (boxes.count() == 0) break;
        if (attempt == kAttempts) {
            m_error = QStringLiteral("connecting warned %1 times: ").arg(kAttempts) + boxes.last();
            return false;
        }
    }
    if (!m_window->link()->isLive()) {
        m_error = QStringLiteral("the port did not open: ") + simPath();
        return false;
    }
    if (!waitForChip(m_options.waitMs)) {
        m_error = QStringLiteral("the chip was not seen");
        return false;
    }
    return settle(m_options.waitMs);
}

bool MwHarness::settle(int timeoutMs) {
    if (!m_window) return false;
    // A chosen port settles first; its connect then queues the firmware
    // question.
    MainWindow* w = m_window;
    if (!QTest::qWaitFor([w] { return !w->portSettling(); }, timeoutMs)) return false;
    return Exchanges_Settle(*w->session(), timeoutMs);
}

void MwHarness::tearDown() {
    if (m_window) {
        m_window->close();
        delete m_window;
        m_window = nullptr;
    }
    if (m_sim) {
        m_sim->stop();
        m_sim.reset();
    }
    if (!m_oldCwd.isEmpty()) {
        QDir::setCurrent(m_oldCwd);
        m_oldCwd.clear();
    }
    m_dir.reset();
}

// --- message boxes ----------------------------------------------------------------

namespace {

QMessageBox* VisibleBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box != nullptr && box->isVisible()) return box;
    }
    return nullptr;
}

void Answer(QMessageBox* box, int standardButton) {
    QAbstractButton* b = standardButton != 0 ? box->button(static_cast<QMessageBox::StandardButton>(standardButton))
                                             : box->defaultButton();
    if (b == nullptr) b = box->button(QMessageBox::Ok);
    if (b != nullptr)
        b->click();
    else
        box->accept();
}

}  // namespace

MessageBoxCatcher::MessageBoxCatcher(QObject* parent) : QObject(parent) {
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxCatcher::poll);
    m_timer.start(20);
}

void MessageBoxCatcher::clear() {
    m_texts.clear();
    m_titles.clear();
}

void MessageBoxCatcher::poll() {
    QMessageBox* box = VisibleBox();
    if (box == nullptr) return;
    m_texts.append(box->text());
    m_titles.append(box->windowTitle());
    Answer(box, m_answer);
}

QString Accept_Next_MessageBox(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() <= timeoutMs) {
        if (QMessageBox* box = VisibleBox()) {
            const QString text = box->text();
            Answer(box, 0);
            return text;
        }
        QTest::qWait(10);
    }
    return QString();
}
