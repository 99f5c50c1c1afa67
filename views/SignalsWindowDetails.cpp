// The Signals window's details beside the graphs: the statistics strip, the
// touch shading, the bar chart and the hover read-out.
#include <qcustomplot.h>

#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>

#include "data/SampleStream.h"
#include "views/SignalsWindow.h"
#include "views/TouchShading.h"

namespace {

// Seconds as the strip and the hover show them.
QString Seconds(double s) { return QString::number(s, 'f', 2); }

}  // namespace

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
        if (!m_ThresholdGraph[c]) continue;  // not chosen
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
    const SampleHistory& h = m_Stream->history();
    const qint64 fromMs = static_cast<qint64>(xLo * 1000.0);
    const qint64 toMs = static_cast<qint64>(xHi * 1000.0) + 1;
    const qint64 nowMs = m_Paused ? m_FrozenMs : h.newestMs();
    QVector<QCPRange> keys;
    for (int c = 0; c < m_Channels; ++c) {
        if (!m_ThresholdGraph[c]) continue;  // not chosen
        keys.clear();
        for (const TouchInterval& iv : h.touchIntervals(c, fromMs, toMs)) {
            if (m_Paused && iv.startMs > m_FrozenMs) continue;
            qint64 end = iv.endMs < 0 ? nowMs : iv.endMs;
            if (m_Paused) end = std::min(end, m_FrozenMs);
            const double a = keys.isEmpty() ? iv.startMs / 1000.0 : std::max(iv.startMs / 1000.0, keys.last().upper);
            keys.append(QCPRange(a, std::max(a, end / 1000.0)));
        }
        QColor fill = channelColour(c);
        fill.setAlpha(35);
        m_Touches->setIntervals(c, fill, keys);
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
    if (m_Following) plot_Bars->yAxis->setRange(PaddedRange(lo, hi));
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
