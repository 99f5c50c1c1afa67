#include "views/ProductionWindow.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QMetaObject>
#include <QSysInfo>

#include "app/config.h"
#include "app/limits.h"
#include "data/SampleStream.h"
#include "production/ProductionTest.h"
#include "production/ResultStore.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"

namespace {

const char kSection[] = "PRODUCTION";

QString FailingText(const TestRecord& r) {
    QStringList lines;
    for (const RegisterMismatch& m : r.mismatched)
        lines << QStringLiteral("register %1: wrote %2, read %3").arg(Hex2(m.reg), Hex2(m.wrote), Hex2(m.read));
    for (const Measurement& m : r.measurements)
        if (!m.pass) {
            QString bounds;
            if (m.min && m.max)
                bounds = QStringLiteral("%1..%2").arg(*m.min).arg(*m.max);
            else
                bounds = m.min ? QStringLiteral("min %1").arg(*m.min) : QStringLiteral("max %1").arg(*m.max);
            lines
                << QStringLiteral("SIN %1 %2 = %3 (%4)").arg(m.channel).arg(m.name).arg(m.value, 0, 'g', 5).arg(bounds);
        }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

ProductionWindow::ProductionWindow(SampleStream* stream, BoardSession* session, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_Stream(stream),
      m_Session(session),
      m_Device(session->device()),
      m_WorkDir(session->workDir()),
      m_WorkerContext(new QObject) {
    setupUi(this);
    qRegisterMetaType<TestRecord>();
    m_WorkerContext->moveToThread(&m_Worker);
    connect(&m_Worker, &QThread::finished, m_WorkerContext, &QObject::deleteLater);
    m_Worker.setObjectName(QStringLiteral("production"));
    m_Worker.start();

    QFont big = label_Verdict->font();
    big.setPointSize(72);
    big.setBold(true);
    label_Verdict->setFont(big);
    QFont detail = label_Detail->font();
    detail.setPointSize(16);
    label_Detail->setFont(detail);
    QFont serial = lineEdit_Serial->font();
    serial.setPointSize(18);
    lineEdit_Serial->setFont(serial);
    frame_Verdict->setAutoFillBackground(true);
    tableWidget_Runs->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tableWidget_Runs->horizontalHeader()->setStretchLastSection(true);
    pushButton_Held->setEnabled(false);
    pushButton_Held->setVisible(false);

    lineEdit_Station->setText(Config_ReadKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("STATION")));
    if (lineEdit_Station->text().isEmpty()) lineEdit_Station->setText(QSysInfo::machineHostName());
    lineEdit_Operator->setText(Config_ReadKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("OPERATOR")));
    checkBox_Touch->setChecked(Config_ReadKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("TOUCH")) ==
                               QLatin1String("1"));
    connect(lineEdit_Station, &QLineEdit::editingFinished, this, &ProductionWindow::saveSettings);
    connect(lineEdit_Operator, &QLineEdit::editingFinished, this, &ProductionWindow::saveSettings);
    connect(checkBox_Touch, &QCheckBox::toggled, this, &ProductionWindow::saveSettings);
    connect(checkBox_Touch, &QCheckBox::toggled, this, [this] { setBusy(running()); });
    connect(pushButton_Browse, &QPushButton::clicked, this, &ProductionWindow::browse);
    connect(lineEdit_Limits, &QLineEdit::editingFinished, this, [this] {
        if (lineEdit_Limits->text() != m_Limits.file) setLimitsFile(lineEdit_Limits->text());
    });
    connect(lineEdit_Serial, &QLineEdit::returnPressed, this, &ProductionWindow::startTest);
    // A scanner types into whatever has the focus: give it back to the serial field.
    for (QLineEdit* e : {lineEdit_Station, lineEdit_Operator, lineEdit_Limits})
        connect(e, &QLineEdit::editingFinished, lineEdit_Serial, [this] { lineEdit_Serial->setFocus(); });

    showVerdict(QString(), tr("Choose a limits file, then scan a serial number"));
    const QString limits = Config_ReadKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("LIMITS"));
    if (!limits.isEmpty()) setLimitsFile(limits);
    lineEdit_Serial->setFocus();
}

ProductionWindow::~ProductionWindow() {
    if (m_Test) {
        // Ends on its own thread, once it is back at its events: the writes
        // it has still to make are skipped, so that is soon even when the
        // board does not answer. The record of an abandoned run is not kept.
        m_Test->abandon();
        QMetaObject::invokeMethod(
            m_Test, [t = m_Test] { t->fail(QStringLiteral("the window was closed")); }, Qt::BlockingQueuedConnection);
        m_Test->disconnect(this);
        m_Test->deleteLater();
        m_Test = nullptr;
    }
    // A record still being stored is stored before the thread ends.
    QMetaObject::invokeMethod(
        m_WorkerContext, [] {}, Qt::BlockingQueuedConnection);
    m_Worker.quit();
    m_Worker.wait();
}

void ProductionWindow::saveSettings() {
    Config_WriteKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("STATION"), lineEdit_Station->text());
    Config_WriteKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("OPERATOR"), lineEdit_Operator->text());
    Config_WriteKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("TOUCH"),
                    checkBox_Touch->isChecked() ? "1" : "0");
}

void ProductionWindow::browse() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Limits file"), QFileInfo(m_Limits.file).absolutePath(),
                                                      tr("Limits files (*.json);;All files (*)"));
    if (!path.isEmpty()) setLimitsFile(path);
    lineEdit_Serial->setFocus();
}

bool ProductionWindow::setLimitsFile(const QString& path) {
    const ChipFamily* family = ChipFamily_Find(m_Session->family());
    LimitsTarget target;
    target.device = m_Device;
    target.channels = family ? qMin(m_Session->channelCount(), family->monitorChannels) : 0;
    target.sbfs = m_Session->sbfCount();
    ProductionLimits limits;
    QString error;
    lineEdit_Limits->setText(path);
    if (!Limits_Load(path, target, &limits, &error)) {
        m_HaveLimits = false;
        setWindowTitle(tr("Production test"));
        showVerdict(QStringLiteral("ERROR"), error);
        return false;
    }
    m_Limits = limits;
    m_HaveLimits = true;
    lineEdit_Limits->setText(limits.file);
    checkBox_Touch->setEnabled(limits.hasTouch);
    Config_WriteKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("LIMITS"), limits.file);
    setWindowTitle(QStringLiteral("Production test - ") + limits.name);
    showVerdict(QString(), tr("Scan a serial number"));
    return true;
}

void ProductionWindow::setBusy(bool busy) {
    for (QWidget* w : std::initializer_list<QWidget*>{lineEdit_Limits, pushButton_Browse, lineEdit_Station,
                                                      lineEdit_Operator, checkBox_Touch})
        w->setEnabled(!busy);
    if (!busy) checkBox_Touch->setEnabled(m_Limits.hasTouch);
    lineEdit_Serial->setReadOnly(busy);
    pushButton_Held->setEnabled(busy && checkBox_Touch->isChecked());
    pushButton_Held->setVisible(checkBox_Touch->isChecked() && m_Limits.hasTouch);
}

bool ProductionWindow::startTest() {
    const QString serial = lineEdit_Serial->text().trimmed();
    if (m_Test || serial.isEmpty()) return false;
    if (!m_HaveLimits) {
        showVerdict(QStringLiteral("ERROR"), tr("Choose a limits file first"));
        return false;
    }
    m_Test = new ProductionTest(m_Limits, m_Stream);
    m_Test->setSession(m_Session);
    m_Test->setTouchPhase(checkBox_Touch->isChecked() && m_Limits.hasTouch);
    TestRecord& r = m_Test->record();
    r.serial = serial;
    r.station = lineEdit_Station->text();
    r.operatorName = lineEdit_Operator->text();
    r.toolVersion = Record_ToolVersion();
    r.device = m_Device;
    r.port = m_PortSource ? m_PortSource() : QString();
    r.firmware = m_Session->firmwareText();
    QPointer<ProductionWindow> self(this);
    m_Test->setSenseSwitch([self, session = m_Session](bool on) {
        // The flag now, for the test; the button when the GUI thread gets to it.
        if (session) session->setSensing(on);
        QMetaObject::invokeMethod(qApp, [self, on] {
            if (self && self->m_SenseSwitch) self->m_SenseSwitch(on);
        });
    });
    m_Test->moveToThread(&m_Worker);
    connect(m_Test, &ProductionTest::finished, this, &ProductionWindow::onTestFinished);
    connect(m_Test, &ProductionTest::promptChanged, label_Prompt, &QLabel::setText);
    connect(pushButton_Held, &QPushButton::clicked, m_Test, &ProductionTest::touchingNow);
    setBusy(true);
    showVerdict(QStringLiteral("TESTING"), serial);
    const uint8_t dev = m_Session->chipAddress();
    QMetaObject::invokeMethod(m_Test, [t = m_Test, dev] { t->start(dev); });
    return true;
}

void ProductionWindow::onTestFinished() {
    if (!m_Test) return;
    // finished() was the test's last act on its thread.
    const TestRecord record = m_Test->record();
    m_Test->disconnect(this);
    pushButton_Held->disconnect(m_Test);
    m_Test->deleteLater();
    m_Test = nullptr;
    StoreTarget target;
    QString why;
    const QString workDir = m_WorkDir;
    // The line's database when config.ini names one, else results.db here.
    if (!Store_ParseUrl(Config_ReadKey(m_WorkDir, QLatin1String(kSection), QStringLiteral("DB")), workDir, &target,
                        &why)) {
        label_Storage->setText(QStringLiteral("config.ini [PRODUCTION] DB: %1; using results.db").arg(why));
        Store_ParseUrl(QString(), workDir, &target, &why);
    }
    QPointer<ProductionWindow> self(this);
    QMetaObject::invokeMethod(m_WorkerContext, [self, record, target, workDir] {
        bool kept = false;
        const QString line = Store_RecordOrSpool(record, target, workDir, &kept);
        QMetaObject::invokeMethod(qApp, [self, record, line] {
            if (self) self->onStored(record, line);
        });
    });
    ++m_Tested;
    if (record.outcome == QLatin1String("PASS")) ++m_Passed;
    if (record.outcome == QLatin1String("FAIL")) ++m_Failed;
    showVerdict(record.outcome, record.outcome == QLatin1String("ERROR")  ? record.error
                                : record.outcome == QLatin1String("FAIL") ? FailingText(record)
                                                                          : record.serial);
    label_Counts->setText(
        tr("Tested %1, passed %2, failed %3, yield %4")
            .arg(m_Tested)
            .arg(m_Passed)
            .arg(m_Failed)
            .arg(m_Tested ? QStringLiteral("%1%").arg(100.0 * m_Passed / m_Tested, 0, 'f', 1) : QStringLiteral("—")));
    tableWidget_Runs->insertRow(0);
    const QStringList cells = {
        record.ended.toLocalTime().toString(QStringLiteral("HH:mm:ss")), record.serial, record.outcome,
        record.outcome == QLatin1String("ERROR") ? record.error
                                                 : FailingText(record).replace('\n', QStringLiteral("; "))};
    for (int c = 0; c < cells.size(); ++c) tableWidget_Runs->setItem(0, c, new QTableWidgetItem(cells[c]));
    while (tableWidget_Runs->rowCount() > kRunsShown) tableWidget_Runs->removeRow(tableWidget_Runs->rowCount() - 1);
    setBusy(false);
    lineEdit_Serial->clear();
    lineEdit_Serial->setFocus();
    label_Prompt->setText(tr("Ready"));
}

void ProductionWindow::onStored(const TestRecord& record, const QString& line) {
    label_Storage->setText(QStringLiteral("%1: %2").arg(record.serial, line));
    emit runRecorded(record, line);
}

void ProductionWindow::showVerdict(const QString& outcome, const QString& detail) {
    // Readable from a metre away: the colour says it before the word does.
    QColor colour = palette().color(QPalette::Window);
    QColor text = palette().color(QPalette::WindowText);
    if (outcome == QLatin1String("PASS")) {
        colour = QColor(0x2e, 0x9e, 0x3e);
        text = Qt::white;
    } else if (outcome == QLatin1String("FAIL")) {
        colour = QColor(0xc6, 0x28, 0x28);
        text = Qt::white;
    } else if (outcome == QLatin1String("ERROR")) {
        colour = QColor(0xf5, 0xa6, 0x23);
        text = Qt::black;
    }
    QPalette p = frame_Verdict->palette();
    p.setColor(QPalette::Window, colour);
    p.setColor(QPalette::WindowText, text);
    frame_Verdict->setPalette(p);
    label_Verdict->setText(outcome.isEmpty() ? QStringLiteral("—") : outcome);
    label_Detail->setText(detail);
}
