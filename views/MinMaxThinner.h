// Thins a time series for drawing: per column of a fixed grid on the key axis
// (one column per pixel), only the lowest and the highest point of each line
// piece are kept, in time order, so every extreme survives however many
// samples share a pixel. Line pieces stay apart: a NaN value between them is
// where the plot breaks the line.
//
// The grid is anchored at key 0, not at the view's edge, so a view that
// scrolls keeps the columns it already drew and only the newest one, still
// open, has to be thinned again when more points come.
#pragma once

#include <QVector>
#include <cstdint>

class MinMaxThinner {
public:
    // columnWidth <= 0 keeps every point. continuing: points already precede
    // these, so a break before the first one must be emitted too.
    MinMaxThinner(double columnWidth, QVector<double>* keys, QVector<double>* values, bool continuing = false);

    // Points in key order; breakBefore: not to be joined to the one before.
    void add(double key, double value, bool breakBefore);
    // Emits what the open column holds; call once after the last add().
    void finish();

    // The grid column of a key.
    static int64_t columnOf(double key, double columnWidth);

private:
    void flush();
    void emitPoint(double key, double value);

    double m_Width;
    QVector<double>* m_Keys;
    QVector<double>* m_Values;
    bool m_Emitted;
    bool m_Open = false;
    int64_t m_Column = 0;
    double m_MinKey = 0, m_MinValue = 0, m_MaxKey = 0, m_MaxValue = 0;
    int64_t m_MinOrder = 0, m_MaxOrder = 0, m_Order = 0;
};
