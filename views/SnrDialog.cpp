#include "views/SnrDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/ExchangeQueue.h"
#include "tuning/MonitorNarrowing.h"
#include "tuning/SnrProcedure.h"
#include "tuning/SnrRegisters.h"
#include "ui_SnrDialog.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"

namespace {

const QStringList kColumns = {
    QStringLiteral("Channel"),   QStringLiteral("Samples"),     QStringLiteral("Mean untouched"),
    QStringLiteral("Noise p-p"), QStringLiteral("Noise RMS"),   QStringLiteral("Signal"),
    QStringLiteral("SNR"),       QStringLiteral("Result"),      QStringLiteral("Sensitivity now"),
    QStringLiteral("Check now"), QStringLiteral("Recommended"), QStringLiteral("Check recommended"),
};

QString CheckText(SnrCheck check) {
    switch (check) {
        case SnrCheck::Noise:
            return QStringLiteral("noise can trigger it");
        case SnrCheck::Missed:
            return QStringLiteral("a touch may be missed");
        case SnrCheck::Safe:
            break;
    }
    return QStringLiteral("safe");
}

}  // namespace

SnrDialog::SnrDialog(SampleStream* stream, MonitorNarrowing* narrowing, BoardSession* session, const QString& device,
                     QWidget* parent)
    : QDialog(parent), m_Narrowing(narrowing), m_Session(session), m_Device(device) {
    ui = std::make_unique<Ui::SnrDialog>();
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    m_Proc = new SnrProcedure(stream, this);
    m_Proc->setNarrowing(narrowing);
    m_Proc->setSession(session);
    if (session != nullptr) {
        m_Proc->setExchanges(&session->exchanges());
        // Through the image, so that the table shows what was read. Runs on
        // the session's exchange thread; the session outlives its queue.
        m_Proc->setSensitivityReader([session](int ch) {
            return Snr_ReadSensitivity(session->link(), session->image(), session->chipAddress(), session->family(),
                                       ch);
        });
    }

    QStringList messages;
    const BoardConfig config = session ? session->config() : BoardConfig();
    const SnrSettings defaults =
        Snr_DefaultSettings(config, session ? session->monitoredChannels() : uint16_t(0), &messages);
    auto* row = new QHBoxLayout(ui->widget_Channels);
    row->setContentsMargins(0, 0, 0, 0);
    const int channels = qBound(0, config.channels, kMaxChannels);
    for (int c = 0; c < channels; ++c) {
        auto* box = new QCheckBox(QStringLiteral("SIN %1").arg(c + 1), ui->widget_Channels);
        box->setObjectName(QStringLiteral("checkBox_SIN%1").arg(c + 1));
        box->setChecked(defaults.channels.contains(c));
        row->addWidget(box);
        m_ChannelBoxes.append(box);
    }
    row->addStretch();
    const int sbfs = qBound(0, config.sbfs, kMaxSbf);
    for (int k = 0; k < sbfs; ++k) ui->comboBox_Sbf->addItem(QStringLiteral("SBF %1").arg(k + 1), k);
    ui->comboBox_Sbf->setCurrentIndex(qMin(defaults.sbf, sbfs - 1));
    ui->spinBox_Samples->setRange(kSnrMinSamples, kSnrMaxSamples);
    ui->spinBox_Samples->setValue(defaults.samples);
    ui->doubleSpinBox_Min->setValue(defaults.minSnr);

    ui->tableWidget_Results->setColumnCount(kColumns.size());
    ui->tableWidget_Results->setHorizontalHeaderLabels(kColumns);
    ui->tableWidget_Results->verticalHeader()->setVisible(false);
    ui->tableWidget_Results->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->tableWidget_Results->horizontalHeader()->setStretchLastSection(true);
    if (!messages.isEmpty()) Show_Status(messages.join(QLatin1Char('\n')), true);

    connect(ui->pushButton_Start, &QPushButton::clicked, this, &SnrDialog::onStartClicked);
    connect(ui->pushButton_TouchingNow, &QPushButton::clicked, this, &SnrDialog::onTouchingNowClicked);
    connect(ui->pushButton_Cancel, &QPushButton::clicked, this, &SnrDialog::onCancelClicked);
    connect(ui->pushButton_Apply, &QPushButton::clicked, this, &SnrDialog::onApplyClicked);
    connect(ui->pushButton_Save, &QPushButton::clicked, this, &SnrDialog::onSaveClicked);
    connect(ui->pushButton_Close, &QPushButton::clicked, this, &SnrDialog::close);
    connect(m_Proc, &SnrProcedure::changed, this, &SnrDialog::Show_Progress);
    connect(m_Proc, &SnrProcedure::finished, this, &SnrDialog::Test_Finished);
    Update_Buttons();
}

// The procedure, a child, puts the mask and Sense back and frees the
// narrowing as it goes.
SnrDialog::~SnrDialog() = default;

void SnrDialog::endTest() { m_Proc->cancel(); }

void SnrDialog::reject() {
    endTest();
    QDialog::reject();
}

void SnrDialog::closeEvent(QCloseEvent* event) {
    endTest();
    QDialog::closeEvent(event);
}

void SnrDialog::onStartClicked() {
    if (m_Proc->running() || m_Proc->starting() || !m_Narrowing) return;
    SnrSettings s;
    for (int c = 0; c < m_ChannelBoxes.size(); ++c)
        if (m_ChannelBoxes[c]->isChecked()) s.channels.append(c);
    s.sbf = ui->comboBox_Sbf->currentData().toInt();
    s.samples = ui->spinBox_Samples->value();
    s.minSnr = ui->doubleSpinBox_Min->value();
    s.margin = m_Session ? m_Session->margin() : 0.0f;

    MonitorNarrowing* narrowing = m_Narrowing;
    if (!narrowing->claim(m_Proc, SnrProcedure::kName)) {
        Show_Status(QStringLiteral("%1 is in progress and narrows the monitored channels. Finish or cancel it, then "
                                   "start the SNR test.")
                        .arg(narrowing->holder()),
                    true);
        return;
    }
    m_Results.clear();
    ui->tableWidget_Results->setRowCount(0);
    Show_Status(QString(), false);
    // The test begins once the sensitivity registers have been read; a
    // failure after start() has returned ends it through finished().
    if (!m_Proc->start(s)) {
        narrowing->release(m_Proc);
        Show_Status(m_Proc->errorText(), true);
    }
    Show_Progress();
}

void SnrDialog::onTouchingNowClicked() { m_Proc->touchingNow(); }

void SnrDialog::onCancelClicked() { endTest(); }

void SnrDialog::Show_Progress() {
    using Phase = SnrProcedure::Phase;
    const Phase phase = m_Proc->phase();
    if (m_Proc->running() || m_Proc->starting()) {
        ui->label_Prompt->setText(m_Proc->prompt());
        ui->progressBar->setRange(0, m_Proc->needed());
        ui->progressBar->setValue(m_Proc->collected());
        ui->progressBar->setFormat(phase == Phase::HandsOff ? QStringLiteral("untouched %v / %m")
                                                            : QStringLiteral("touched %v / %m"));
    } else if (phase == Phase::Done) {
        int failing = 0;
        for (const SnrResult& r : m_Results) failing += r.pass ? 0 : 1;
        ui->label_Prompt->setText(failing == 0
                                      ? QStringLiteral("Done: every key passes.")
                                      : QStringLiteral("Done: %1 of %2 keys fail.").arg(failing).arg(m_Results.size()));
        ui->progressBar->setValue(ui->progressBar->maximum());
        ui->progressBar->setFormat(QStringLiteral("finished"));
    } else if (phase != Phase::Idle) {
        ui->label_Prompt->setText(QStringLiteral("The test has ended."));
    }
    Update_Buttons();
}

void SnrDialog::Test_Finished() {
    if (m_Narrowing) m_Narrowing->release(m_Proc);
    switch (m_Proc->phase()) {
        case SnrProcedure::Phase::Done:
            m_Results = m_Proc->results();
            m_Info.date = QDateTime::currentDateTime();
            m_Info.device = m_Device;
            m_Info.firmware = m_Session ? m_Session->firmwareText() : QString();
            m_Info.i2c = m_Session ? m_Session->i2cAddress() : 0;
            m_Info.margin = m_Proc->settings().margin;
            Show_Results();
            Show_Status(QString(), false);
            break;
        case SnrProcedure::Phase::Failed:
            Show_Status(m_Proc->errorText(), true);
            break;
        default:
            Show_Status(QStringLiteral("Cancelled; the monitored channels and Sense are as they were."), false);
            break;
    }
    Show_Progress();
}

void SnrDialog::Show_Results() {
    ui->tableWidget_Results->setRowCount(m_Results.size());
    for (int i = 0; i < m_Results.size(); ++i) {
        const SnrResult& r = m_Results[i];
        const bool known = r.sensitivityNow >= 0;
        const QStringList cells = {
            QStringLiteral("SIN %1").arg(r.channel + 1),
            QStringLiteral("%1 / %2").arg(r.samplesUntouched).arg(r.samplesTouched),
            Snr_DisplayNumber(r.meanUntouched),
            Snr_DisplayNumber(r.noisePeakToPeak),
            Snr_DisplayNumber(r.noiseRms),
            Snr_DisplayNumber(r.signal),
            Snr_DisplayNumber(r.snr),
            r.pass ? QStringLiteral("pass") : QStringLiteral("FAIL"),
            known ? QString::number(r.sensitivityNow) : QStringLiteral("?"),
            known ? CheckText(r.checkNow) : QString(),
            QString::number(r.recommended),
            CheckText(r.checkRecommended),
        };
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            item->setTextAlignment(col == 0 || col >= 7 ? Qt::AlignLeft | Qt::AlignVCenter
                                                        : Qt::AlignRight | Qt::AlignVCenter);
            if (!r.pass) item->setBackground(QColor(255, 205, 205));
            const bool warnCheck = (col == 9 && known && r.checkNow != SnrCheck::Safe) ||
                                   (col == 11 && r.checkRecommended != SnrCheck::Safe);
            if (col == 7 && !r.pass) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
                item->setForeground(QColor(170, 0, 0));
            } else if (warnCheck) {
                item->setForeground(QColor(170, 90, 0));
            }
            ui->tableWidget_Results->setItem(i, col, item);
        }
    }
}

void SnrDialog::Show_Status(const QString& text, bool error) {
    ui->label_Status->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
    ui->label_Status->setText(text);
}

void SnrDialog::Update_Buttons() {
    const bool running = m_Proc->running() || m_Proc->starting();
    const auto phase = m_Proc->phase();
    ui->groupBox_Setup->setEnabled(!running && !m_Applying);
    ui->pushButton_Start->setEnabled(!running && !m_Applying);
    ui->pushButton_Cancel->setEnabled(running);
    ui->pushButton_TouchingNow->setEnabled(phase == SnrProcedure::Phase::AwaitTouch ||
                                           phase == SnrProcedure::Phase::Paused);
    const bool haveResults = !running && !m_Results.isEmpty();
    ui->pushButton_Apply->setEnabled(haveResults && !m_Applying);
    ui->pushButton_Save->setEnabled(haveResults);
}

void SnrDialog::setSenseSwitch(std::function<void(bool)> f) { m_Proc->setSenseSwitch(std::move(f)); }

void SnrDialog::onApplyClicked() {
    if (m_Applying || m_Results.isEmpty() || m_Proc->running() || m_Proc->starting() || !m_Session) return;
    QStringList plan;
    for (const SnrResult& r : m_Results)
        plan.append(QStringLiteral("SIN %1 = %2").arg(r.channel + 1).arg(r.recommended));
    const auto answer = QMessageBox::question(
        this, QStringLiteral("Apply recommended"),
        QStringLiteral("Write these sensitivities into the chip?\n%1").arg(plan.join(QStringLiteral(", "))),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) return;

    m_Applying = true;
    Update_Buttons();
    RegisterImage* image = &m_Session->image();
    m_Session->exchanges().post(
        this,
        [image, dev = m_Session->chipAddress(), results = m_Results, family = m_Session->family()](BoardLink& link) {
            return Snr_ApplyRecommended(link, *image, dev, results, family);
        },
        [this](const SnrApplyOutcome& out) {
            for (uint8_t reg : out.registers) emit registerReadBack(reg);
            m_Applying = false;
            Update_Buttons();
            Show_Status(out.message, !out.ok);
            if (!out.ok) QMessageBox::warning(this, QStringLiteral("Apply recommended"), out.message);
        });
}

void SnrDialog::onSaveClicked() {
    if (m_Results.isEmpty()) return;
    const QString suggested = QDir(m_Session ? m_Session->workDir() : QString())
                                  .filePath(m_Info.date.toString(QStringLiteral("'snr-'yyyyMMdd-HHmmss'.csv'")));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save SNR report"), suggested,
                                     QStringLiteral("CSV files (*.csv)"), nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty()) return;
    saveReportTo(path);
}

bool SnrDialog::saveReportTo(const QString& path) {
    QString error;
    if (!Snr_WriteReport(path, m_Info, m_Results, &error)) {
        Show_Status(error, true);
        QMessageBox::warning(this, QStringLiteral("Save SNR report"), error);
        return false;
    }
    Show_Status(QStringLiteral("Report saved to %1").arg(QDir::toNativeSeparators(path)), false);
    return true;
}
