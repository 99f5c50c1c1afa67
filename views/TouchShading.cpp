#include "views/TouchShading.h"

namespace {

constexpr int kSliceRows = 64;

}  // namespace

TouchShading::TouchShading(QCPAxis* keyAxis, const QString& layer)
    : QCPLayerable(keyAxis->parentPlot(), layer, keyAxis->axisRect()), m_KeyAxis(keyAxis) {}

void TouchShading::clear() {
    for (Bands& b : m_Channels) b.intervals.clear();
}

void TouchShading::setIntervals(int channel, const QColor& fill, const QVector<QCPRange>& intervals) {
    if (channel < 0 || channel >= kMaxChannels) return;
    m_Channels[channel] = {fill, intervals};
}

QVector<QCPRange> TouchShading::intervals(int channel) const {
    if (channel < 0 || channel >= kMaxChannels) return {};
    return m_Channels[channel].intervals;
}

void TouchShading::applyDefaultAntialiasingHint(QCPPainter* painter) const {
    applyAntialiasingHint(painter, mAntialiased, QCP::aeFills);
}

QRect TouchShading::clipRect() const { return m_KeyAxis ? m_KeyAxis->axisRect()->rect() : QRect(); }

void TouchShading::draw(QCPPainter* painter) {
    if (!m_KeyAxis) return;
    const QRect rect = m_KeyAxis->axisRect()->rect();
    const QCPRange view = m_KeyAxis->range();
    for (const Bands& b : m_Channels) {
        for (const QCPRange& iv : b.intervals) {
            if (iv.upper < view.lower || iv.lower > view.upper) continue;
            const double left = std::max(m_KeyAxis->coordToPixel(iv.lower), double(rect.left()));
            const double right = std::min(m_KeyAxis->coordToPixel(iv.upper), double(rect.right() + 1));
            // In slices: QPainter hands a translucent fill of more than 96
            // rows to Qt's thread pool and waits for it, at a cost far above
            // that of the band's own pixels.
            for (int top = rect.top(); top <= rect.bottom(); top += kSliceRows)
                painter->fillRect(QRectF(left, top, right - left, std::min(kSliceRows, rect.bottom() + 1 - top)),
                                  b.fill);
        }
    }
}
