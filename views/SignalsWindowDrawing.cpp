// The Signals window's drawing: filling the graphs from the stream's history
// (thinned to the pixel columns, appended while it follows), the value axes,
// the statistics strip, the touch shading, the bars and the hover read-out.
#include <qcustomplot.h>

#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>

#include "data/SampleStream.h"
#include "views/MinMaxThinner.h"
#include "views/SignalsWindow.h"

namespace {

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
                if (c == 0) item->setForeground(channelColour(st.channel));
                tableWidget_Stats->setItem(r, c, item);
                created = true;
            }
            if (c == 0) item->setForeground(channelColour(st.channel));
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
