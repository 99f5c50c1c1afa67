// The Signals window's drawing: filling the graphs from the stream's history
// (thinned to the pixel columns, appended while it follows) and the value
// axes. The strip, the shading, the bars and the hover are in
// SignalsWindowDetails.cpp.
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "data/SampleStream.h"
#include "views/MinMaxThinner.h"
#include "views/SignalsWindow.h"
#include "views/TraceRaster.h"

namespace {

double KeyOf(const MonitorSample& s) { return s.tMs / 1000.0; }

// One channel's diff, reference and sense counts of one SBF, thinned to the
// pixel columns.
struct ThinnedTrace {
    QVector<double> keys[3], values[3];

    // Samples [from, to) of the channel. A sample that starts a piece breaks
    // the line, the first one only with cutFirst. continuing: the graphs
    // already end in the column before from.
    ThinnedTrace(const SampleHistory& h, int ch, int sbf, qsizetype from, qsizetype to, bool cutFirst, double width,
                 bool continuing) {
        MinMaxThinner diff(width, &keys[0], &values[0], continuing), ref(width, &keys[1], &values[1], continuing),
            sense(width, &keys[2], &values[2], continuing);
        for (qsizetype i = from; i < to; ++i) {
            const MonitorSample& s = h.at(ch, i);
            const bool cut = (i > from || cutFirst) && h.startsPiece(ch, i);
            diff.add(KeyOf(s), s.diff[sbf], cut);
            ref.add(KeyOf(s), s.ref[sbf], cut);
            sense.add(KeyOf(s), s.sense[sbf], cut);
        }
        diff.finish();
        ref.finish();
        sense.finish();
    }
};

// The first sample of the newest pixel column among [from, to): what the
// next redraw thins again. With markers (width 0) every sample stands alone.
qsizetype OpenColumn(const SampleHistory& h, int ch, qsizetype from, qsizetype to, double width, bool markers) {
    qsizetype open = to - 1;
    if (!markers)
        while (open > from && MinMaxThinner::columnOf(KeyOf(h.at(ch, open - 1)), width) ==
                                  MinMaxThinner::columnOf(KeyOf(h.at(ch, open)), width))
            --open;
    return open;
}

}  // namespace

QCPRange SignalsWindow::PaddedRange(double lo, double hi) {
    if (lo > hi) return QCPRange(0, 1);
    if (hi - lo < 1e-9) return QCPRange(lo - 1, hi + 1);
    const double pad = (hi - lo) * 0.06;
    return QCPRange(lo - pad, hi + pad);
}

void SignalsWindow::redraw() {
    if (!m_Stream) return;
    QElapsedTimer clock;
    clock.start();
    if (!m_ThresholdKnown) pollThresholds();
    m_Redrawing = true;
    const bool viewChanged = m_ViewDirty;
    // Fitting the value axes can widen their labels and so narrow the
    // plots; the graphs are then thinned again for the new width.
    double shownLo = 0, shownHi = 0;
    for (int pass = 0; pass < 3; ++pass) {
        fillView(&shownLo, &shownHi);
        if (!alignTimeAxes()) break;
    }
    if (!m_Paused || m_ViewDirty) fillBars();
    updateStatistics(shownLo, shownHi, viewChanged);
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

// The time graphs and the shading for the view; shownLo and shownHi are what
// the figures cover.
void SignalsWindow::fillView(double* shownLo, double* shownHi) {
    const int pixels = std::max(1, plot_Diff->axisRect()->width());
    const double span = m_SpanS;
    double xLo, xHi;
    if (m_Following) {
        // Up to the newest sample; the view itself moves on by whole pixel
        // columns of the thinning grid, so the lines drawn so far only move.
        const qint64 newest = m_Paused ? m_FrozenMs : m_Stream->history().newestMs();
        *shownHi = std::max(span, newest / 1000.0);
        *shownLo = *shownHi - span;
        const double column = span / pixels;
        xHi = std::ceil(*shownHi / column - 1e-6) * column;
        if (std::abs(xHi - *shownHi) < column * 1e-6) xHi = *shownHi;  // on the grid already
        xLo = xHi - span;
    } else {
        xLo = *shownLo = plot_Diff->xAxis->range().lower;
        xHi = *shownHi = plot_Diff->xAxis->range().upper;
    }
    // Markers while the samples in view, of all graphs together, are fewer
    // than the pixels: what is plain to see then, and never many to draw.
    const bool markers = samplesInView(*shownLo, *shownHi) < pixels;
    // Appending builds on what is drawn only while the view slides along
    // with the samples on the same grid; anything else draws afresh.
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
}

// The two time plots get the wider of their left margins, so their time
// axes line up and a pixel column is the same time in both. The margin only
// grows: a layout that went back and forth would draw the lines afresh each
// time. True when the plots are now another width than the graphs were
// thinned for.
bool SignalsWindow::alignTimeAxes() {
    auto layOut = [](QCustomPlot* plot) {
        for (auto phase : {QCPLayoutElement::upPreparation, QCPLayoutElement::upMargins, QCPLayoutElement::upLayout})
            plot->plotLayout()->update(phase);
    };
    layOut(plot_Diff);
    layOut(plot_Counts);
    const int left = std::max(plot_Diff->axisRect()->margins().left(), plot_Counts->axisRect()->margins().left());
    for (QCustomPlot* plot : {plot_Diff, plot_Counts}) {
        QMargins m = plot->axisRect()->minimumMargins();
        if (m.left() >= left) continue;
        m.setLeft(left);
        plot->axisRect()->setMinimumMargins(m);
        layOut(plot);
    }
    return plot_Diff->axisRect()->width() != m_PlotPixels;
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
    const ThinnedTrace thinned(h, ch, t.sbf, i0, i1, false, width, false);
    t.diff->setData(thinned.keys[0], thinned.values[0], true);
    t.ref->setData(thinned.keys[1], thinned.values[1], true);
    t.sense->setData(thinned.keys[2], thinned.values[2], true);
    const quint64 base = h.appended(ch) - quint64(h.size(ch));
    t.drawnTo = base + quint64(i1);
    t.openFrom = base + quint64(std::max<qsizetype>(OpenColumn(h, ch, i0, i1, width, t.markers), 0));
}

// What came since the last redraw: the newest column, still open then, is
// thinned again with it; changedFrom is lowered to the first key replaced or
// added. False when the graphs must be filled afresh.
bool SignalsWindow::appendTrace(Trace& t, double xLo, double* changedFrom) {
    if (m_Markers != t.markers) return false;
    const SampleHistory& h = m_Stream->history();
    const int ch = t.channel;
    const qsizetype size = h.size(ch);
    const quint64 base = h.appended(ch) - quint64(size);
    if (t.drawnTo < base || t.openFrom < base) return false;  // the ring moved past what was drawn
    if (t.drawnTo == h.appended(ch)) return true;
    const qsizetype from = qsizetype((t.markers ? t.drawnTo : t.openFrom) - base);
    const double fromKey = KeyOf(h.at(ch, from));
    if (!t.markers)
        for (QCPGraph* g : {t.diff, t.ref, t.sense}) g->data()->remove(fromKey, std::numeric_limits<double>::max());
    *changedFrom = std::min(*changedFrom, fromKey);
    const double width = t.markers ? 0.0 : m_ColumnWidth;
    const bool continuing = !t.diff->data()->isEmpty();
    const ThinnedTrace thinned(h, ch, t.sbf, from, size, from > 0, width, continuing);
    t.diff->addData(thinned.keys[0], thinned.values[0], true);
    t.ref->addData(thinned.keys[1], thinned.values[1], true);
    t.sense->addData(thinned.keys[2], thinned.values[2], true);
    t.drawnTo = h.appended(ch);
    t.openFrom = base + quint64(OpenColumn(h, ch, from, size, width, t.markers));
    // What scrolled out goes, all but the point the line enters from.
    for (QCPGraph* g : {t.diff, t.ref, t.sense}) {
        auto it = g->data()->findBegin(xLo);
        if (it != g->data()->constEnd() && it != g->data()->constBegin()) g->data()->removeBefore(it->key);
    }
    return true;
}

void SignalsWindow::fillTimeGraphs(double xLo, double xHi, bool full) {
    bool refilled = false;
    double changedFrom = std::numeric_limits<double>::infinity();
    for (Trace& t : m_Traces) {
        if (full || !appendTrace(t, xLo, &changedFrom)) {
            fillTrace(t, xLo, xHi);
            refilled = true;
        }
    }
    QVector<QCPGraph*> diffLines, countLines;
    if (!m_Markers) {
        for (const Trace& t : std::as_const(m_Traces)) {
            diffLines << t.diff;
            countLines << t.ref << t.sense;
        }
    }
    m_DiffLines->setGraphs(diffLines);
    m_CountLines->setGraphs(countLines);
    for (TraceRaster* lines : {m_DiffLines, m_CountLines}) {
        if (refilled)
            lines->invalidate();
        else
            lines->dataChangedFrom(changedFrom);
    }
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
    plot_Diff->yAxis->setRange(PaddedRange(std::min(dLo, 0.0), dHi));
    plot_Counts->yAxis->setRange(PaddedRange(cLo, cHi));
}
