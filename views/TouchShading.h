// The touch intervals of a plot's channels as translucent bands over the
// whole height of its axis rect, each in its channel's colour.
//
// A band is a few rectangles, so drawing it costs about its own pixels. (A
// filled step graph per channel, between the axis' bottom and top, was
// rasterised across the whole plot's width at every replot.)
#pragma once

#include <qcustomplot.h>

#include <QColor>
#include <QPointer>
#include <QVector>
#include <array>

#include "app/limits.h"

class TouchShading : public QCPLayerable {
    Q_OBJECT
public:
    TouchShading(QCPAxis* keyAxis, const QString& layer);

    // No channel shaded.
    void clear();
    // A channel's intervals (keys, in order, not overlapping) in fill.
    void setIntervals(int channel, const QColor& fill, const QVector<QCPRange>& intervals);
    QVector<QCPRange> intervals(int channel) const;

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    QRect clipRect() const override;
    void draw(QCPPainter* painter) override;

private:
    struct Bands {
        QColor fill;
        QVector<QCPRange> intervals;
    };
    QPointer<QCPAxis> m_KeyAxis;
    std::array<Bands, kMaxChannels> m_Channels;
};
