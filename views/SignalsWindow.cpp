#include "views/SignalsWindow.h"

#include <qcustomplot.h>

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHideEvent>
#include <QImageWriter>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QSaveFile>
#include <QShowEvent>
#include <algorithm>

#include "app/config.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "views/TouchShading.h"
#include "views/TraceRaster.h"
#include "workers/ChipFamily.h"

namespace {

constexpr int kSpans[] = {10, 30, 120, 600};
const QString kConfigSection = QStringLiteral("PLOT");
const QString kGeometryKey = QStringLiteral("SIGNALS_GEOMETRY");

// Later SBFs of a channel in lighter shades of its colour.
QColor TraceColour(int ch, int sbf) { return SignalsWindow::channelColour(ch).lighter(100 + 30 * sbf); }

QString Name(int ch, int sbf, const char* what) {
    return QStringLiteral("SIN%1 SBF%2 %3").arg(ch + 1).arg(sbf + 1).arg(QLatin1String(what));
}

}  // namespace

SignalsWindow::SignalsWindow(SampleStream* stream, const RegisterImage* image, const BoardConfig& config,
                             QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_Stream(stream),
      m_Channels(std::clamp(config.channels, 0, kMaxChannels)),
      m_Sbfs(std::clamp(config.sbfs, 1, kMaxSbf)),
      m_Family(config.family),
      m_WorkDir(config.workDir) {
    m_Image = image;
    setupUi(this);
    setWindowTitle(QStringLiteral("Signals - ") + config.device);

    for (int s : kSpans) comboBox_Span->addItem(s < 60 ? tr("%1 s").arg(s) : tr("%1 min").arg(s / 60), s);
    comboBox_Span->setCurrentIndex(1);
    for (int k = 0; k < m_Sbfs; ++k) comboBox_Sbf->addItem(tr("SBF %1").arg(k + 1), k);
    if (m_Sbfs > 1) comboBox_Sbf->addItem(tr("All"), -1);
    for (int c = 0; c < m_Channels; ++c) {
        auto* item = new QListWidgetItem(QStringLiteral("SIN %1").arg(c + 1), listWidget_Channels);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(Qt::Checked);
        item->setForeground(channelColour(c));
    }
    splitter_Main->setStretchFactor(1, 1);
    splitter_Plots->setSizes({380, 220, 150, 190});
    const QStringList columns{tr("Channel"),   tr("SBF"),          tr("Samples"), tr("Mean untouched"), tr("Noise p-p"),
                              tr("Noise RMS"), tr("Mean touched"), tr("SNR"),     tr("Sensitivity")};
    tableWidget_Stats->setColumnCount(columns.size());
    tableWidget_Stats->setHorizontalHeaderLabels(columns);
    tableWidget_Stats->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    tableWidget_Stats->horizontalHeaderItem(3)->setToolTip(tr("Mean diff of the samples taken with the key untouched"));
    tableWidget_Stats->horizontalHeaderItem(4)->setToolTip(tr("Highest minus lowest untouched diff"));
    tableWidget_Stats->horizontalHeaderItem(5)->setToolTip(tr("Standard deviation of the untouched diff"));
    tableWidget_Stats->horizontalHeaderItem(6)->setToolTip(tr("Mean diff while the key was touched"));
    tableWidget_Stats->horizontalHeaderItem(7)->setToolTip(tr("(mean touched - mean untouched) / noise p-p"));

    setupPlots();
    rebuildGraphs();

    connect(listWidget_Channels, &QListWidget::itemChanged, this, [this] { rebuildGraphs(); });
    connect(comboBox_Sbf, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { rebuildGraphs(); });
    connect(comboBox_Span, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int i) {
        m_SpanS = comboBox_Span->itemData(i).toInt();
        follow();
    });
    connect(pushButton_Pause, &QPushButton::toggled, this, &SignalsWindow::setPaused);
    connect(pushButton_Follow, &QPushButton::clicked, this, &SignalsWindow::follow);
    connect(pushButton_SaveImage, &QPushButton::clicked, this, &SignalsWindow::saveImageClicked);
    connect(pushButton_CopyStats, &QPushButton::clicked, this, &SignalsWindow::copyStatistics);
    if (stream) {
        auto stale = [this] { m_DataDirty = true; };
        connect(stream, &SampleStream::sampleAdded, this, stale);
        connect(stream, &SampleStream::touchChanged, this, stale);
        connect(stream, &SampleStream::restarted, this, stale);
        connect(stream, &SampleStream::historyCleared, this, [this] {
            m_DataDirty = true;
            m_Refill = true;
        });
    }
    m_Tick.setInterval(kRedrawIntervalMs);
    connect(&m_Tick, &QTimer::timeout, this, &SignalsWindow::tick);

    const QByteArray geometry =
        QByteArray::fromBase64(Config_ReadKey(m_WorkDir, kConfigSection, kGeometryKey).toLatin1());
    if (geometry.isEmpty() || !restoreGeometry(geometry)) resize(1100, 800);
}

SignalsWindow::~SignalsWindow() = default;

QColor SignalsWindow::channelColour(int ch) {
    static const QRgb kColours[kMaxChannels] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b,
                                                0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf, 0x393b79, 0xad494a,
                                                0x637939, 0x8c6d31, 0x843c39, 0x7b4173};
    return QColor(kColours[ch & (kMaxChannels - 1)]);
}

void SignalsWindow::setupPlots() {
    for (QCustomPlot* plot : {plot_Diff, plot_Counts, plot_Bars}) {
        plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
        plot->setMouseTracking(true);
        plot->installEventFilter(this);
        // Many graphs redrawn often: plain lines keep a redraw in a few ms.
        plot->setNotAntialiasedElements(QCP::aeAll);
        plot->setNoAntialiasingOnDrag(true);
        // No legend is shown; an item per graph would still be laid out,
        // with its text measured, at every replot.
        plot->setAutoAddPlottableToLegend(false);
        connect(plot, &QCustomPlot::mouseWheel, this, [this, plot] { userMovedView(plot); });
        connect(plot, &QCustomPlot::mouseMove, this, [this, plot](QMouseEvent* e) {
            if (e->buttons() != Qt::NoButton)
                userMovedView(plot);
            else
                showHover(plot, e->pos());
        });
    }
    auto title = [](QCustomPlot* plot, const QString& text) {
        auto* element = new QCPTextElement(plot, text, QFont(plot->font().family(), 9, QFont::Bold));
        plot->plotLayout()->insertRow(0);
        plot->plotLayout()->addElement(0, 0, element);
        return element;
    };
    title(plot_Diff, tr("Diff"));
    title(plot_Counts, tr("Counts"));
    m_BarsTitle = title(plot_Bars, tr("Newest diff"));
    plot_Diff->xAxis->setLabel(tr("time (s)"));
    plot_Counts->xAxis->setLabel(tr("time (s)"));
    plot_Diff->yAxis->setLabel(tr("diff"));
    plot_Counts->yAxis->setLabel(tr("count"));
    plot_Diff->addLayer(QStringLiteral("shade"), plot_Diff->layer(QStringLiteral("grid")), QCustomPlot::limAbove);
    m_Touches = new TouchShading(plot_Diff->xAxis, QStringLiteral("shade"));
    // Below the thresholds, which are added later to the same layer.
    m_DiffLines = new TraceRaster(plot_Diff->xAxis, plot_Diff->yAxis);
    m_CountLines = new TraceRaster(plot_Counts->xAxis, plot_Counts->yAxis);

    // The two time graphs move together.
    auto link = [this](QCustomPlot* from, QCustomPlot* to) {
        connect(from->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this, to](const QCPRange& r) {
            if (m_Redrawing) return;
            to->xAxis->setRange(r);
            m_ViewDirty = true;
        });
    };
    link(plot_Diff, plot_Counts);
    link(plot_Counts, plot_Diff);
    connect(plot_Bars->yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] {
        if (!m_Redrawing) m_ViewDirty = true;
    });

    setupBars();
}

// The newest diff of every channel: a bar each, green while touched, with
// its threshold marked.
void SignalsWindow::setupBars() {
    m_BarsIdle = new QCPBars(plot_Bars->xAxis, plot_Bars->yAxis);
    m_BarsIdle->setName(QStringLiteral("idle"));
    m_BarsIdle->setPen(Qt::NoPen);
    m_BarsIdle->setBrush(QColor(0x90, 0x90, 0x90));
    m_BarsIdle->setWidth(0.6);
    m_BarsTouched = new QCPBars(plot_Bars->xAxis, plot_Bars->yAxis);
    m_BarsTouched->setName(QStringLiteral("touched"));
    m_BarsTouched->setPen(Qt::NoPen);
    m_BarsTouched->setBrush(QColor(0x20, 0xb0, 0x40));
    m_BarsTouched->setWidth(0.6);
    m_BarMarks = plot_Bars->addGraph();
    m_BarMarks->setName(QStringLiteral("thresholds"));
    m_BarMarks->setLineStyle(QCPGraph::lsNone);
    QPainterPath mark;
    mark.moveTo(-6, 0);
    mark.lineTo(6, 0);
    QCPScatterStyle markStyle(mark, QPen(QColor(0xc0, 0x10, 0x10), 2), Qt::NoBrush, 18);
    m_BarMarks->setScatterStyle(markStyle);
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    for (int c = 0; c < m_Channels; ++c) ticker->addTick(c + 1, QStringLiteral("SIN %1").arg(c + 1));
    plot_Bars->xAxis->setTicker(ticker);
    plot_Bars->xAxis->setRange(0.4, m_Channels + 0.6);
    plot_Bars->axisRect()->setRangeDrag(Qt::Vertical);
    plot_Bars->axisRect()->setRangeZoom(Qt::Vertical);
}

void SignalsWindow::rebuildGraphs() {
    m_SbfChoice = comboBox_Sbf->currentData().toInt();
    m_DiffLines->setGraphs({});
    m_CountLines->setGraphs({});
    plot_Diff->clearGraphs();
    plot_Counts->clearGraphs();
    m_Traces.clear();
    for (auto& g : m_ThresholdGraph) g = nullptr;
    m_Touches->clear();
    for (int c = 0; c < m_Channels; ++c) {
        if (listWidget_Channels->item(c)->checkState() != Qt::Checked) continue;
        for (int k = 0; k < m_Sbfs; ++k) {
            if (m_SbfChoice >= 0 && k != m_SbfChoice) continue;
            const QColor colour = TraceColour(c, k);
            Trace t{c, k, plot_Diff->addGraph(), plot_Counts->addGraph(), plot_Counts->addGraph()};
            t.diff->setName(Name(c, k, "diff"));
            t.diff->setPen(QPen(colour, 1));
            t.ref->setName(Name(c, k, "ref"));
            t.ref->setPen(QPen(colour.lighter(140), 1));
            t.sense->setName(Name(c, k, "sense"));
            t.sense->setPen(QPen(colour, 1));
            // Thinned here already; QCustomPlot's own sampling would drop the breaks.
            for (QCPGraph* g : {t.diff, t.ref, t.sense}) g->setAdaptiveSampling(false);
            m_Traces.append(t);
        }
        QCPGraph* thr = plot_Diff->addGraph();
        thr->setName(QStringLiteral("SIN%1 threshold").arg(c + 1));
        thr->setPen(QPen(channelColour(c), 1, Qt::DashLine));
        m_ThresholdGraph[c] = thr;
    }
    tableWidget_Stats->setRowCount(static_cast<int>(m_Traces.size()));
    m_Stats.clear();
    m_Refill = true;
    m_ViewDirty = true;
    if (isVisible()) redraw();
}

void SignalsWindow::setChannelChosen(int channel, bool chosen) {
    if (channel < 0 || channel >= m_Channels) return;
    listWidget_Channels->item(channel)->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
}

void SignalsWindow::setSbfChoice(int sbf) {
    const int at = comboBox_Sbf->findData(sbf);
    if (at >= 0) comboBox_Sbf->setCurrentIndex(at);
}

void SignalsWindow::setSpanSeconds(int seconds) {
    const int at = comboBox_Span->findData(seconds);
    if (at >= 0) comboBox_Span->setCurrentIndex(at);
}

void SignalsWindow::setPaused(bool paused) {
    if (pushButton_Pause->isChecked() != paused) {
        pushButton_Pause->setChecked(paused);  // comes back here through toggled()
        return;
    }
    m_Paused = paused;
    m_FrozenMs = paused && m_Stream ? m_Stream->history().newestMs() : -1;
    m_ViewDirty = true;
}

void SignalsWindow::follow() {
    m_Following = true;
    m_ViewDirty = true;
    if (isVisible()) redraw();
}

void SignalsWindow::userMovedView(QCustomPlot* plot) {
    if (plot == plot_Bars) return;
    m_Following = false;
    m_ViewDirty = true;
}

void SignalsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_ViewDirty = true;
    redraw();
    m_Tick.start();
}

void SignalsWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_Tick.stop();
    if (!event->spontaneous()) saveGeometryToConfig();
}

bool SignalsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Leave && (watched == plot_Diff || watched == plot_Counts || watched == plot_Bars))
        label_Hover->clear();
    return QWidget::eventFilter(watched, event);
}

void SignalsWindow::saveGeometryToConfig() {
    Config_WriteKey(m_WorkDir, kConfigSection, kGeometryKey, QString::fromLatin1(saveGeometry().toBase64()));
}

bool SignalsWindow::pollThresholds() {
    if (!m_Image) return false;
    bool changed = !m_ThresholdKnown;
    for (int c = 0; c < m_Channels; ++c) {
        const int v = m_Image->value(ChipFamily_SensitivityRegister(m_Family, c));
        changed = changed || v != m_Threshold[c];
        m_Threshold[c] = v;
    }
    m_ThresholdKnown = true;
    return changed;
}

void SignalsWindow::tick() {
    if (!isVisible()) return;
    if (pollThresholds()) m_DataDirty = true;
    if ((m_DataDirty && !m_Paused) || m_ViewDirty) redraw();
}

void SignalsWindow::copyStatistics() { QGuiApplication::clipboard()->setText(statisticsText()); }

bool SignalsWindow::saveImage(const QString& path, QString* error) {
    const QImage image = splitter_Plots->grab().toImage();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = tr("Could not open %1 for writing: %2").arg(path, file.errorString());
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        *error = tr("Could not write the image to %1: %2").arg(path, writer.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = tr("Could not save %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void SignalsWindow::saveImageClicked() {
    QString path =
        QFileDialog::getSaveFileName(this, tr("Save image"), QStringLiteral("signals.png"), tr("PNG images (*.png)"));
    if (path.isEmpty()) return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) path += QLatin1String(".png");
    QString error;
    if (!saveImage(path, &error)) QMessageBox::warning(this, tr("Save image"), error);
}
