// The lines of many graphs of one plot, drawn into an image the plot keeps
// between replots.
//
// A plot with a line per chosen channel and SBF spends most of a replot
// drawing lines that have not changed. While the view slides on by whole
// pixel columns and the value axis stays, a replot here moves the kept image
// by those columns and draws again only the columns from where the data
// changed (dataChangedFrom()) to the right edge; anything else (another
// value range, a zoom, another size, invalidate()) draws the image afresh.
// The lines come out as QCustomPlot draws a graph's line.
//
// The graphs stay in the plot, hidden, and keep their data: the hover and
// the value-axis fitting read them as before.
#pragma once

#include <qcustomplot.h>

#include <QImage>
#include <QPointer>
#include <QVector>

class TraceRaster : public QCPLayerable {
    Q_OBJECT
public:
    TraceRaster(QCPAxis* keyAxis, QCPAxis* valueAxis);

    // The graphs drawn, bottom first: they are hidden while drawn here, and
    // shown again when the list is replaced without them.
    void setGraphs(const QVector<QCPGraph*>& graphs);
    const QVector<QCPGraph*>& graphs() const { return m_Graphs; }

    // The graphs' points from key on were replaced or added; what is before
    // it is as it was drawn.
    void dataChangedFrom(double key);
    // Anything else changed: the next replot draws afresh.
    void invalidate();

    // Replots that drew the image afresh and replots that only moved it and
    // drew its newest columns.
    quint64 freshDraws() const { return m_FreshDraws; }
    quint64 partialDraws() const { return m_PartialDraws; }

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    QRect clipRect() const override;
    void draw(QCPPainter* painter) override;

private:
    // Pixel columns of the key axis, counted from the view's left edge. A
    // point's place is worked out from the key alone, so the same point
    // lands on the same fraction of a pixel however far the view has moved
    // (from the view's edges, the rounding differs in the last bits, and a
    // point on a pixel's edge could be drawn a pixel off).
    struct Grid {
        double perColumn = 0;  // keys per pixel column
        double origin = 0;     // the view's left edge, in columns from key 0
        static Grid of(const QCPRange& keys, int width);
        double x(double key) const { return key / perColumn - origin; }
        double key(double x) const { return (origin + x) * perColumn; }
    };

    // True when the view only moved on by whole pixel columns since the
    // image was drawn (none counts), with how many.
    bool movedByWholeColumns(const QRect& rect, qreal dpr, int* columns) const;
    // Moves the image left by that many device pixels.
    void scroll(int deviceColumns);
    // The first pixel column (from the axis rect's left edge) a line that
    // changed since the last draw passes through.
    int changedFromX(const QRect& rect) const;
    // Draws pixel columns [fromX, rect.width()) of the kept image afresh.
    void drawOn(const QRect& rect, int fromX);
    // The graphs' lines that reach pixel columns [fromX, rect.width()).
    void drawLines(QCPPainter* painter, const QRect& rect, const Grid& grid, int fromX) const;

    QPointer<QCPAxis> m_KeyAxis;
    QPointer<QCPAxis> m_ValueAxis;
    QVector<QCPGraph*> m_Graphs;
    QImage m_Image;
    bool m_Valid = false;
    QRect m_DrawnRect;
    qreal m_DrawnDpr = 1;
    Grid m_Grid;
    QCPRange m_DrawnValues;
    double m_ChangedFrom;
    quint64 m_FreshDraws = 0;
    quint64 m_PartialDraws = 0;
};
