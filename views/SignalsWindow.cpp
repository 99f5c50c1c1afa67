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
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/config.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "views/MinMaxThinner.h"
#include "workers/ChipFamily.h"

namespace {

constexpr int kSpans[] = {10, 30, 120, 600};
const QString kConfigSection = QStringLiteral("PLOT");
const QString kGeometryKey = QStringLiteral("SIGNALS_GEOMETRY");

QColor ChannelColour(int ch) {
    static const QRgb kColours[kMaxChannels] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b,
                                                0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf, 0x393b79, 0xad494a,
                                                0x637939, 0x8c6d31, 0x843c39, 0x7b4173};
    return QColor(kColours[ch & (kMaxChannels - 1)]);
}

// Later SBFs of a channel in lighter shades of its colour.
QColor TraceColour(int ch, int sbf) { return ChannelColour(ch).lighter(100 + 30 * sbf); }

QString Name(int ch, int sbf, const char* what) {
    return QStringLiteral("SIN%1 SBF%2 %3").arg(ch + 1).arg(sbf + 1).arg(QLatin1String(what));
}

// Fits a range to values with a little room above and below; a flat line
// gets a band around it.
QCPRange Padded(double lo, double hi) {
    if (lo > hi) return QCPRange(0, 1);
    if (hi - lo < 1e-9) return QCPRange(lo - 1, hi + 1);
    const double pad = (hi - lo) * 0.06;
    return QCPRange(lo - pad, hi + pad);
}

double KeyOf(const MonitorSample& s) { return s.tMs / 1000.0; }

// Seconds as the strip and the hover show them.
QString Seconds(double s) { return QString::number(s, 'f', 2); }

}  // namespace

SignalsWindow::SignalsWindow(SampleStream* stream, const RegisterImage* image, const QString& device, int channels,
                             int sbfs, int family, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_Stream(stream),
      m_Channels(std::clamp(channels, 0, kMaxChannels)),
      m_Sbfs(std::clamp(sbfs, 1, kMaxSbf)),
      m_Family(family) {
    m_Image = image;
    setupUi(this);
    setWindowTitle(QStringLiteral("Signals - ") + device);

    for (int s : kSpans) comboBox_Span->addItem(s < 60 ? tr("%1 s").arg(s) : tr("%1 min").arg(s / 60), s);
    comboBox_Span->setCurrentIndex(1);
    for (int k = 0; k < m_Sbfs; ++k) comboBox_Sbf->addItem(tr("SBF %1").arg(k + 1), k);
    if (m_Sbfs > 1) comboBox_Sbf->addItem(tr("All"), -1);
    for (int c = 0; c < m_Channels; ++c) {
        auto* item = new QListWidgetItem(QStringLiteral("SIN %1").arg(c + 1), listWidget_Channels);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(Qt::Checked);
        item->setForeground(ChannelColour(c));
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

    const QByteArray geometry = QByteArray::fromBase64(Config_ReadKey(kConfigSection, kGeometryKey).toLatin1());
    if (geometry.isEmpty() || !restoreGeometry(geometry)) resize(1100, 800);
}

SignalsWindow::~SignalsWindow() = default;

void SignalsWindow::setupPlots() {
    for (QCustomPlot* plot : {plot_Diff, plot_Counts, plot_Bars}) {
        plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
        plot->setMouseTracking(true);
        plot->installEventFilter(this);
        // Many graphs redrawn often: plain lines keep a redraw in a few ms.
        plot->setNotAntialiasedElements(QCP::aeAll);
        plot->setNoAntialiasingOnDrag(true);
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
    plot_Diff->clearGraphs();
    plot_Counts->clearGraphs();
    m_Traces.clear();
    for (auto& g : m_ThresholdGraph) g = nullptr;
    for (auto& g : m_ShadeGraph) g = nullptr;
    m_ShadeBase = plot_Diff->addGraph();
    m_ShadeBase->setName(QStringLiteral("touch base"));
    m_ShadeBase->setPen(Qt::NoPen);
    m_ShadeBase->setLayer(QStringLiteral("shade"));
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
        QCPGraph* shade = plot_Diff->addGraph();
        shade->setName(QStringLiteral("SIN%1 touch").arg(c + 1));
        shade->setLayer(QStringLiteral("shade"));
        shade->setLineStyle(QCPGraph::lsStepLeft);
        shade->setPen(Qt::NoPen);
        QColor fill = ChannelColour(c);
        fill.setAlpha(35);
        shade->setBrush(fill);
        shade->setChannelFillGraph(m_ShadeBase);
        m_ShadeGraph[c] = shade;
        QCPGraph* thr = plot_Diff->addGraph();
        thr->setName(QStringLiteral("SIN%1 threshold").arg(c + 1));
        thr->setPen(QPen(ChannelColour(c), 1, Qt::DashLine));
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
    Config_WriteKey(kConfigSection, kGeometryKey, QString::fromLatin1(saveGeometry().toBase64()));
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

void SignalsWindow::redraw() {
    if (!m_Stream) return;
    QElapsedTimer clock;
    clock.start();
    if (!m_ThresholdKnown) pollThresholds();
    m_Redrawing = true;
    const double span = m_SpanS;
    double xLo, xHi;
    if (m_Following) {
        const qint64 newest = m_Paused ? m_FrozenMs : m_Stream->history().newestMs();
        xHi = std::max(span, newest / 1000.0);
        xLo = xHi - span;
    } else {
        xLo = plot_Diff->xAxis->range().lower;
        xHi = plot_Diff->xAxis->range().upper;
    }
    const bool viewChanged = m_ViewDirty;
    // Appending builds on what is drawn only while the view slides along
    // with the samples on the same grid; anything else draws afresh.
    const int pixels = std::max(1, plot_Diff->axisRect()->width());
    // Markers while the samples in view, of all graphs together, are fewer
    // than the pixels: what is plain to see then, and never many to draw.
    const bool markers = samplesInView(xLo, xHi) < pixels;
    const bool full = m_Refill || m_ViewDirty || !m_Following || m_Paused || pixels != m_PlotPixels ||
                      markers != m_Markers || std::abs((xHi - xLo) - (m_DrawnHi - m_DrawnLo)) > 1e-9;
    m_PlotPixels = pixels;
    m_Markers = markers;
    // Floored so a view zoomed in beyond reason cannot overflow a column index.
    m_ColumnWidth = std::max((xHi - xLo) / pixels, 1e-6);
    m_DrawnLo = xLo;
    m_DrawnHi = xHi;
    fillTimeGraphs(xLo, xHi, full);
    shadeTouches(xLo, xHi);
    if (!m_Paused || m_ViewDirty) fillBars();
    updateStatistics(xLo, xHi, viewChanged);
    m_LastFillMs = clock.nsecsElapsed() / 1e6;
    plot_Diff->replot(QCustomPlot::rpQueuedReplot);
    plot_Counts->replot(QCustomPlot::rpQueuedReplot);
    plot_Bars->replot(QCustomPlot::rpQueuedReplot);
    m_Redrawing = false;
    m_Refill = false;
    if (!m_Paused) m_DataDirty = false;
    m_ViewDirty = false;
    ++m_Redraws;
}

qsizetype SignalsWindow::samplesInView(double xLo, double xHi) const {
    const SampleHistory& h = m_Stream->history();
    const qint64 loMs = static_cast<qint64>(std::floor(xLo * 1000.0));
    qint64 hiMs = static_cast<qint64>(std::ceil(xHi * 1000.0));
    if (m_Paused) hiMs = std::min(hiMs, m_FrozenMs);
    qsizetype n = 0;
    for (const Trace& t : m_Traces) n += h.lowerBound(t.channel, hiMs + 1) - h.lowerBound(t.channel, loMs);
    return n;
}

void SignalsWindow::setMarkers(Trace& t, bool markers) {
    t.markers = markers;
    for (QCPGraph* g : {t.diff, t.ref, t.sense}) {
        if (markers)
            g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, g->pen().color(), 4));
        else
            g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    }
}

// The samples from one before the view's left edge to one past its right
// (or the freeze), thinned unless they are fewer than the pixels.
void SignalsWindow::fillTrace(Trace& t, double xLo, double xHi) {
    const SampleHistory& h = m_Stream->history();
    const int ch = t.channel;
    const qint64 loMs = static_cast<qint64>(std::floor(xLo * 1000.0));
    qint64 hiMs = static_cast<qint64>(std::ceil(xHi * 1000.0));
    if (m_Paused) hiMs = std::min(hiMs, m_FrozenMs);
    const qsizetype i0 = std::max<qsizetype>(0, h.lowerBound(ch, loMs) - 1);
    const qsizetype past = h.lowerBound(ch, hiMs + 1);
    qsizetype i1 = past;
    if (m_Following && !m_Paused)
        i1 = h.size(ch);
    else if (!m_Paused && i1 < h.size(ch))
        ++i1;
    setMarkers(t, m_Markers);
    const double width = t.markers ? 0.0 : m_ColumnWidth;
    const int k = t.sbf;
    QVector<double> keys[3], values[3];
    MinMaxThinner diff(width, &keys[0], &values[0]), ref(width, &keys[1], &values[1]),
        sense(width, &keys[2], &values[2]);
    for (qsizetype i = i0; i < i1; ++i) {
        const MonitorSample& s = h.at(ch, i);
        const bool cut = i > i0 && h.startsPiece(ch, i);
        diff.add(KeyOf(s), s.diff[k], cut);
        ref.add(KeyOf(s), s.ref[k], cut);
        sense.add(KeyOf(s), s.sense[k], cut);
    }
    diff.finish();
    ref.finish();
    sense.finish();
    t.diff->setData(keys[0], values[0], true);
    t.ref->setData(keys[1], values[1], true);
    t.sense->setData(keys[2], values[2], true);
    const quint64 base = h.appended(ch) - quint64(h.size(ch));
    t.drawnTo = base + quint64(i1);
    qsizetype open = i1 - 1;
    if (!t.markers)
        while (open > i0 && MinMaxThinner::columnOf(KeyOf(h.at(ch, open - 1)), width) ==
                                MinMaxThinner::columnOf(KeyOf(h.at(ch, open)), width))
            --open;
    t.openFrom = base + quint64(std::max<qsizetype>(open, 0));
}

// What came since the last redraw: the newest column, still open then, is
// thinned again with it. False when the graphs must be filled afresh.
bool SignalsWindow::appendTrace(Trace& t, double xLo) {
    if (m_Markers != t.markers) return false;
    const SampleHistory& h = m_Stream->history();
    const int ch = t.channel;
    const qsizetype size = h.size(ch);
    const quint64 base = h.appended(ch) - quint64(size);
    if (t.drawnTo < base || t.openFrom < base) return false;  // the ring moved past what was drawn
    if (t.drawnTo == h.appended(ch)) return true;
    qsizetype from = qsizetype(t.drawnTo - base);
    if (!t.markers) {
        from = qsizetype(t.openFrom - base);
        const double key = KeyOf(h.at(ch, from));
        for (QCPGraph* g : {t.diff, t.ref, t.sense}) g->data()->remove(key, std::numeric_limits<double>::max());
    }
    const double width = t.markers ? 0.0 : m_ColumnWidth;
    const bool continuing = !t.diff->data()->isEmpty();
    const int k = t.sbf;
    QVector<double> keys[3], values[3];
    MinMaxThinner diff(width, &keys[0], &values[0], continuing), ref(width, &keys[1], &values[1], continuing),
        sense(width, &keys[2], &values[2], continuing);
    for (qsizetype i = from; i < size; ++i) {
        const MonitorSample& s = h.at(ch, i);
        const bool cut = i > 0 && h.startsPiece(ch, i);
        diff.add(KeyOf(s), s.diff[k], cut);
        ref.add(KeyOf(s), s.ref[k], cut);
        sense.add(KeyOf(s), s.sense[k], cut);
    }
    diff.finish();
    ref.finish();
    sense.finish();
    t.diff->addData(keys[0], values[0], true);
    t.ref->addData(keys[1], values[1], true);
    t.sense->addData(keys[2], values[2], true);
    t.drawnTo = h.appended(ch);
    qsizetype open = size - 1;
    if (!t.markers)
        while (open > from && MinMaxThinner::columnOf(KeyOf(h.at(ch, open - 1)), width) ==
                                  MinMaxThinner::columnOf(KeyOf(h.at(ch, open)), width))
            --open;
    t.openFrom = base + quint64(open);
    // What scrolled out goes, all but the point the line enters from.
    for (QCPGraph* g : {t.diff, t.ref, t.sense}) {
        auto it = g->data()->findBegin(xLo);
        if (it != g->data()->constEnd() && it != g->data()->constBegin()) g->data()->removeBefore(it->key);
    }
    return true;
}

void SignalsWindow::fillTimeGraphs(double xLo, double xHi, bool full) {
    for (Trace& t : m_Traces)
        if (full || !appendTrace(t, xLo)) fillTrace(t, xLo, xHi);
    const double width = xHi - xLo;
    for (int c = 0; c < m_Channels; ++c) {
        QCPGraph* thr = m_ThresholdGraph[c];
        if (!thr) continue;
        const double v = m_Threshold[c];
        thr->setData({xLo - width, xHi + width}, {v, v}, true);
    }
    plot_Diff->xAxis->setRange(xLo, xHi);
    plot_Counts->xAxis->setRange(xLo, xHi);
    if (m_Following) fitValueAxes(xLo, xHi);
}

void SignalsWindow::fitValueAxes(double xLo, double xHi) {
    double dLo = 1e300, dHi = -1e300, cLo = 1e300, cHi = -1e300;
    auto extent = [xLo, xHi](const QCPGraph* g, double* lo, double* hi) {
        const auto end = g->data()->constEnd();
        for (auto it = g->data()->findBegin(xLo, false); it != end && it->key <= xHi; ++it) {
            if (std::isnan(it->value)) continue;
            *lo = std::min(*lo, it->value);
            *hi = std::max(*hi, it->value);
        }
    };
    for (const Trace& t : m_Traces) {
        extent(t.diff, &dLo, &dHi);
        extent(t.ref, &cLo, &cHi);
        extent(t.sense, &cLo, &cHi);
    }
    for (int c = 0; c < m_Channels; ++c) {
        if (!m_ThresholdGraph[c]) continue;
        dLo = std::min(dLo, double(m_Threshold[c]));
        dHi = std::max(dHi, double(m_Threshold[c]));
    }
    plot_Diff->yAxis->setRange(Padded(std::min(dLo, 0.0), dHi));
    plot_Counts->yAxis->setRange(Padded(cLo, cHi));
}

void SignalsWindow::updateStatistics(double xLo, double xHi, bool force) {
    // Figures change slowly to the eye; four times a second is plenty.
    if (!force && m_StatsClock.isValid() && m_StatsClock.elapsed() < 250 && m_Stats.size() == m_Traces.size()) return;
    m_StatsClock.start();
    const SampleHistory& h = m_Stream->history();
    qint64 toMs = static_cast<qint64>(std::floor(xHi * 1000.0));
    if (m_Paused) toMs = std::min(toMs, m_FrozenMs);
    const qint64 fromMs = static_cast<qint64>(std::ceil(xLo * 1000.0));
    m_Stats.clear();
    for (const Trace& t : m_Traces)
        m_Stats.append(
            SpanStats_Compute(h, t.channel, t.sbf, fromMs, toMs, m_ThresholdKnown ? m_Threshold[t.channel] : -1));
    label_Stats->setText(tr("Statistics from %1 s to %2 s").arg(Seconds(std::max(0.0, xLo)), Seconds(toMs / 1000.0)));
    tableWidget_Stats->setRowCount(static_cast<int>(m_Stats.size()));
    const QString none = QStringLiteral("–");
    bool created = false;
    for (int r = 0; r < m_Stats.size(); ++r) {
        const SpanStats& st = m_Stats[r];
        const bool quiet = st.untouched.count > 0;
        const QString cells[] = {QStringLiteral("SIN %1").arg(st.channel + 1),
                                 QString::number(st.sbf + 1),
                                 QString::number(st.samples),
                                 quiet ? Snr_DisplayNumber(st.untouched.mean) : none,
                                 quiet ? Snr_DisplayNumber(st.untouched.peakToPeak) : none,
                                 quiet ? Snr_DisplayNumber(st.untouched.rms) : none,
                                 st.hasTouches() ? Snr_DisplayNumber(st.touched.mean) : none,
                                 st.hasSnr() ? Snr_DisplayNumber(st.snr) : none,
                                 st.sensitivity >= 0 ? QString::number(st.sensitivity) : none};
        for (int c = 0; c < tableWidget_Stats->columnCount(); ++c) {
            QTableWidgetItem* item = tableWidget_Stats->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
                if (c == 0) item->setForeground(ChannelColour(st.channel));
                tableWidget_Stats->setItem(r, c, item);
                created = true;
            }
            if (c == 0) item->setForeground(ChannelColour(st.channel));
            if (item->text() != cells[c]) item->setText(cells[c]);
        }
    }
    // Fitted once per set of rows: fitting at every update measures every
    // cell's text again.
    if (created) tableWidget_Stats->resizeColumnsToContents();
}

QString SignalsWindow::statisticsText() const {
    QStringList lines{SpanStats_TsvHeader()};
    for (const SpanStats& st : m_Stats) lines << SpanStats_TsvRow(st);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void SignalsWindow::copyStatistics() { QGuiApplication::clipboard()->setText(statisticsText()); }

QString SignalsWindow::touchesAt(double x) const {
    if (!m_Stream) return QString();
    const SampleHistory& h = m_Stream->history();
    const qint64 ms = static_cast<qint64>(std::llround(x * 1000.0));
    const qint64 nowMs = m_Paused ? m_FrozenMs : h.newestMs();
    QStringList parts;
    for (int c = 0; c < m_Channels; ++c) {
        if (!m_ShadeGraph[c]) continue;
        for (const TouchInterval& iv : h.touchIntervals(c, ms, ms)) {
            const qint64 end = iv.endMs < 0 ? nowMs : (m_Paused ? std::min(iv.endMs, m_FrozenMs) : iv.endMs);
            if (ms < iv.startMs || ms > end) continue;
            parts << (iv.endMs < 0 || (m_Paused && iv.endMs > m_FrozenMs) ? tr("SIN %1 touched from %2 s, %3 s so far")
                                                                          : tr("SIN %1 touched from %2 s for %3 s"))
                         .arg(c + 1)
                         .arg(Seconds(iv.startMs / 1000.0), Seconds((end - iv.startMs) / 1000.0));
        }
    }
    return parts.join(QStringLiteral("; "));
}

void SignalsWindow::shadeTouches(double xLo, double xHi) {
    // One filled step graph per channel, between the axis' bottom and top
    // while touched: far cheaper to draw than an item per interval.
    const SampleHistory& h = m_Stream->history();
    const qint64 fromMs = static_cast<qint64>(xLo * 1000.0);
    const qint64 toMs = static_cast<qint64>(xHi * 1000.0) + 1;
    const qint64 nowMs = m_Paused ? m_FrozenMs : h.newestMs();
    const QCPRange y = plot_Diff->yAxis->range();
    const double width = xHi - xLo;
    m_ShadeBase->setData({xLo - width, xHi + width}, {y.lower, y.lower}, true);
    QVector<double> keys, values;
    for (int c = 0; c < m_Channels; ++c) {
        QCPGraph* shade = m_ShadeGraph[c];
        if (!shade) continue;
        keys = {xLo - width};
        values = {y.lower};
        for (const TouchInterval& iv : h.touchIntervals(c, fromMs, toMs)) {
            if (m_Paused && iv.startMs > m_FrozenMs) continue;
            qint64 end = iv.endMs < 0 ? nowMs : iv.endMs;
            if (m_Paused) end = std::min(end, m_FrozenMs);
            const double a = std::max(iv.startMs / 1000.0, keys.last());
            keys << a << end / 1000.0;
            values << y.upper << y.lower;
        }
        keys << xHi + width;
        values << y.lower;
        shade->setData(keys, values, true);
    }
}

void SignalsWindow::fillBars() {
    const SampleHistory& h = m_Stream->history();
    const int k = m_SbfChoice >= 0 ? m_SbfChoice : 0;
    QVector<double> idleKeys, idleValues, touchedKeys, touchedValues, markKeys, markValues;
    double lo = 0.0, hi = 0.0;
    for (int c = 0; c < m_Channels; ++c) {
        markKeys.append(c + 1);
        markValues.append(m_Threshold[c]);
        hi = std::max(hi, double(m_Threshold[c]));
        const MonitorSample* s = h.latest(c);
        if (!s) continue;
        const double v = s->diff[k];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        if (h.touchMask() & (1u << c)) {
            touchedKeys.append(c + 1);
            touchedValues.append(v);
        } else {
            idleKeys.append(c + 1);
            idleValues.append(v);
        }
    }
    m_BarsIdle->setData(idleKeys, idleValues, true);
    m_BarsTouched->setData(touchedKeys, touchedValues, true);
    m_BarMarks->setData(markKeys, markValues, true);
    m_BarsTitle->setText(tr("Newest diff, SBF %1").arg(k + 1));
    if (m_Following) plot_Bars->yAxis->setRange(Padded(lo, hi));
}

void SignalsWindow::showHover(QCustomPlot* plot, const QPoint& pos) {
    if (!plot->axisRect()->rect().contains(pos)) {
        label_Hover->clear();
        return;
    }
    const double x = plot->xAxis->pixelToCoord(pos.x());
    QString text;
    if (plot == plot_Bars) {
        const int c = static_cast<int>(std::lround(x)) - 1;
        if (c < 0 || c >= m_Channels || !m_Stream) return;
        const MonitorSample* s = m_Stream->history().latest(c);
        const int k = m_SbfChoice >= 0 ? m_SbfChoice : 0;
        text = tr("SIN %1: diff %2, threshold %3")
                   .arg(c + 1)
                   .arg(s ? QString::number(s->diff[k]) : QStringLiteral("-"))
                   .arg(m_Threshold[c]);
    } else {
        // The point of any graph nearest the pointer, at the pointer's time.
        double best = 1e300;
        for (int i = 0; i < plot->graphCount(); ++i) {
            QCPGraph* g = plot->graph(i);
            if (g->data()->isEmpty() || g->layer() != plot->layer(QStringLiteral("main"))) continue;
            auto it = g->data()->findBegin(x);
            for (auto cand : {it, it == g->data()->constBegin() ? it : it - 1}) {
                if (cand == g->data()->constEnd()) continue;
                const double dx = plot->xAxis->coordToPixel(cand->key) - pos.x();
                const double dy = plot->yAxis->coordToPixel(cand->value) - pos.y();
                const double d = dx * dx + dy * dy;
                if (d < best) {
                    best = d;
                    const bool threshold = g->name().endsWith(QLatin1String("threshold"));
                    text = tr("t = %1 s   %2 = %3")
                               .arg(threshold ? x : cand->key, 0, 'f', 2)
                               .arg(g->name())
                               .arg(cand->value);
                }
            }
        }
        if (text.isEmpty()) text = tr("t = %1 s").arg(x, 0, 'f', 2);
        if (plot == plot_Diff) {
            const QString touches = touchesAt(x);
            if (!touches.isEmpty()) text += QStringLiteral("   ") + touches;
        }
    }
    label_Hover->setText(text);
    QToolTip::showText(plot->mapToGlobal(pos), text, plot);
}

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
