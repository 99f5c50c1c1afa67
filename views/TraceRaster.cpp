#include "views/TraceRaster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

TraceRaster::TraceRaster(QCPAxis* keyAxis, QCPAxis* valueAxis)
    : QCPLayerable(keyAxis->parentPlot(), QString(), keyAxis->axisRect()),
      m_KeyAxis(keyAxis),
      m_ValueAxis(valueAxis),
      m_ChangedFrom(std::numeric_limits<double>::infinity()) {}

void TraceRaster::setGraphs(const QVector<QCPGraph*>& graphs) {
    if (graphs == m_Graphs) return;
    for (QCPGraph* g : std::as_const(m_Graphs))
        if (!graphs.contains(g)) g->setVisible(true);
    for (QCPGraph* g : graphs) g->setVisible(false);
    m_Graphs = graphs;
    invalidate();
}

void TraceRaster::dataChangedFrom(double key) { m_ChangedFrom = std::min(m_ChangedFrom, key); }

void TraceRaster::invalidate() { m_Valid = false; }

void TraceRaster::applyDefaultAntialiasingHint(QCPPainter* painter) const {
    applyAntialiasingHint(painter, mAntialiased, QCP::aePlottables);
}

QRect TraceRaster::clipRect() const { return m_KeyAxis ? m_KeyAxis->axisRect()->rect() : QRect(); }

void TraceRaster::draw(QCPPainter* painter) {
    if (!m_KeyAxis || !m_ValueAxis || m_Graphs.isEmpty()) return;
    const QRect rect = m_KeyAxis->axisRect()->rect();
    if (rect.isEmpty()) return;
    // An export to a vector device or at another scale draws the lines itself.
    const QCPRange keys = m_KeyAxis->range();
    if (painter->modes().testFlag(QCPPainter::pmVectorized) || !painter->transform().isIdentity()) {
        drawLines(painter, rect, Grid::of(keys, rect.width()), 0);
        return;
    }
    const qreal dpr = painter->device()->devicePixelRatioF();
    int columns = 0;
    if (m_Valid && movedByWholeColumns(rect, dpr, &columns)) {
        m_Grid.origin += columns;
        scroll(qRound(columns * dpr));
        drawOn(rect, std::min(rect.width() - columns, changedFromX(rect)));
        ++m_PartialDraws;
    } else {
        const QSize size = rect.size() * dpr;
        if (m_Image.size() != size) m_Image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        m_Image.setDevicePixelRatio(dpr);
        m_Image.fill(Qt::transparent);
        m_Grid = Grid::of(keys, rect.width());
        QCPPainter p(&m_Image);
        p.translate(-rect.topLeft());
        applyDefaultAntialiasingHint(&p);
        drawLines(&p, rect, m_Grid, 0);
        ++m_FreshDraws;
    }
    painter->drawImage(rect.topLeft(), m_Image);
    m_Valid = true;
    m_DrawnRect = rect;
    m_DrawnDpr = dpr;
    m_DrawnValues = m_ValueAxis->range();
    m_ChangedFrom = std::numeric_limits<double>::infinity();
}

bool TraceRaster::movedByWholeColumns(const QRect& rect, qreal dpr, int* columns) const {
    if (rect != m_DrawnRect || dpr != m_DrawnDpr || m_ValueAxis->range() != m_DrawnValues) return false;
    const Grid now = Grid::of(m_KeyAxis->range(), rect.width());
    if (!(now.perColumn > 0) || now.perColumn != m_Grid.perColumn) return false;
    const double moved = now.origin - m_Grid.origin;
    const double whole = std::round(moved);
    if (std::abs(moved - whole) > 1e-6 || whole < 0 || whole > rect.width()) return false;
    *columns = static_cast<int>(whole);
    return true;
}

void TraceRaster::scroll(int deviceColumns) {
    if (deviceColumns <= 0) return;
    const int width = m_Image.width();
    if (deviceColumns >= width) return;  // all of it is drawn again
    const size_t kept = size_t(width - deviceColumns) * sizeof(QRgb);
    for (int y = 0; y < m_Image.height(); ++y) {
        uchar* line = m_Image.scanLine(y);
        std::memmove(line, line + size_t(deviceColumns) * sizeof(QRgb), kept);
    }
}

void TraceRaster::drawOn(const QRect& rect, int fromX) {
    if (fromX >= rect.width()) return;
    // Every line that reaches the columns is drawn again there, in the
    // graphs' order, so what overlaps stacks as in a fresh draw.
    QCPPainter p(&m_Image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(QRect(fromX, 0, rect.width() - fromX, rect.height()), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setClipRect(QRect(fromX, 0, rect.width() - fromX, rect.height()));
    p.translate(-rect.topLeft());
    applyDefaultAntialiasingHint(&p);
    drawLines(&p, rect, m_Grid, fromX);
}

int TraceRaster::changedFromX(const QRect& rect) const {
    if (!std::isfinite(m_ChangedFrom)) return rect.width();
    // A changed point's line comes from the point before it, which stayed.
    double from = m_ChangedFrom;
    for (const QCPGraph* g : m_Graphs) {
        const auto it = g->data()->findBegin(m_ChangedFrom, true);
        if (it != g->data()->constEnd()) from = std::min(from, it->key);
    }
    const double x = m_Grid.x(from);
    if (!(x > 1)) return 0;
    return std::min(static_cast<int>(std::floor(x)) - 1, rect.width());
}

TraceRaster::Grid TraceRaster::Grid::of(const QCPRange& keys, int width) {
    // Both rounded, so views that differ only in the last bits of their
    // edges get the same grid.
    Grid grid;
    int exponent = 0;
    std::frexp(keys.size() / width, &exponent);
    grid.perColumn = std::ldexp(std::round(std::ldexp(keys.size() / width, 40 - exponent)), exponent - 40);
    grid.origin = keys.lower / grid.perColumn;
    if (std::abs(grid.origin - std::round(grid.origin)) < 1e-6) grid.origin = std::round(grid.origin);
    return grid;
}

void TraceRaster::drawLines(QCPPainter* painter, const QRect& rect, const Grid& grid, int fromX) const {
    // From the point before the columns to the one after the view, as
    // QCustomPlot draws a graph, and the line broken at every NaN.
    const double fromKey = grid.key(fromX - 1);
    const double toKey = m_KeyAxis->range().upper;
    QVector<QPointF> piece;
    auto flush = [&] {
        if (!piece.isEmpty()) painter->drawPolyline(piece.constData(), static_cast<int>(piece.size()));
        piece.clear();
    };
    for (const QCPGraph* g : m_Graphs) {
        QPen pen = g->pen();
        if (pen.style() == Qt::NoPen || pen.color().alpha() == 0 || g->lineStyle() != QCPGraph::lsLine) continue;
        // QCustomPlot draws its 1 px lines as cosmetic ones on screen: the same
        // pixels, far faster.
        if (!painter->modes().testFlag(QCPPainter::pmVectorized) && qFuzzyCompare(pen.widthF(), 1.0)) pen.setWidth(0);
        painter->setPen(pen);
        const auto end = g->data()->findEnd(toKey, true);
        for (auto it = g->data()->findBegin(fromKey, true); it != end; ++it) {
            if (std::isnan(it->value)) {
                flush();
                continue;
            }
            piece.append(QPointF(rect.left() + grid.x(it->key), m_ValueAxis->coordToPixel(it->value)));
        }
        flush();
    }
}
