#include <qcustomplot.h>

#include <QtTest>
#include <cmath>

#include "views/TraceRaster.h"

// The kept image of a plot's lines: what it shows is what QCustomPlot draws
// for the same graphs, moving it on by whole columns and drawing on agrees
// with drawing afresh, and anything else draws afresh.
class tst_TraceRaster : public QObject {
    Q_OBJECT

    struct Plot {
        QCustomPlot plot;
        TraceRaster* lines;
        QVector<QCPGraph*> graphs;
        int width = 0;  // of the axis rect, in pixels

        Plot() {
            plot.resize(640, 320);
            plot.setViewport(QRect(0, 0, 640, 320));  // never shown, so never resized
            plot.setNotAntialiasedElements(QCP::aeAll);
            lines = new TraceRaster(plot.xAxis, plot.yAxis);
            const QColor colours[] = {Qt::red, Qt::darkGreen, Qt::blue};
            for (const QColor& c : colours) {
                QCPGraph* g = plot.addGraph();
                g->setPen(QPen(c, 1));
                g->setAdaptiveSampling(false);
                graphs << g;
            }
            plot.yAxis->setRange(-60, 60);
            plot.replot();
            width = plot.axisRect()->width();
        }
        // Points every 37 ms up to toMs, a break now and then, wobbling so
        // that lines cross and overlap.
        void feed(int fromMs, int toMs, double bump = 0) {
            for (int i = 0; i < graphs.size(); ++i)
                for (int t = fromMs; t < toMs; t += 37) {
                    const bool gap = (t / 37) % 97 == 11;
                    graphs[i]->addData(t / 1000.0, gap ? qQNaN() : 50 * std::sin(t / (300.0 + 90 * i)) + i + bump);
                }
        }
        // The view [hi - span, hi] with hi on the grid of span / width.
        void view(double span, int column) {
            const double perColumn = span / width;
            plot.xAxis->setRange(column * perColumn - span, column * perColumn);
        }
        QImage image() { return plot.toPixmap().toImage(); }
    };

    static int Differing(const QImage& a, const QImage& b) {
        if (a.size() != b.size()) return -1;
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
        return n;
    }

private slots:
    void drawsWhatTheGraphsDraw() {
        Plot p;
        p.feed(0, 20000);
        p.view(10.0, p.width + 313);
        const QImage byGraphs = p.image();
        p.lines->setGraphs(p.graphs);
        QVERIFY(!p.graphs[0]->visible());
        const QImage byRaster = p.image();
        QCOMPARE(Differing(byGraphs, byRaster), 0);
        p.lines->setGraphs({});
        QVERIFY(p.graphs[0]->visible());
        QCOMPARE(Differing(byGraphs, p.image()), 0);
    }

    void movedAndDrawnOnAgreesWithAFreshDraw() {
        Plot p;
        p.lines->setGraphs(p.graphs);
        int ms = 12000;
        // The view ends with the newest points, as the window's does.
        auto newestColumn = [&] { return int(std::ceil(ms / 1000.0 / (10.0 / p.width))); };
        int column = newestColumn();
        p.feed(0, ms);
        p.view(10.0, column);
        p.plot.replot();
        QCOMPARE(p.lines->freshDraws(), quint64(1));
        for (int round = 0; round < 12; ++round) {
            const int more = round % 3 == 2 ? 5 : 140;  // now and then a replot within one column
            // The newest points are replaced by others, as the window thins
            // its open column again.
            const double from = (ms - 200) / 1000.0;
            for (QCPGraph* g : std::as_const(p.graphs)) g->data()->remove(from, 1e9);
            p.feed(ms - 200, ms + more, round % 2 ? 9 : -9);
            p.lines->dataChangedFrom(from);
            ms += more;
            column = newestColumn();
            p.view(10.0, column);
            p.plot.replot();
        }
        QCOMPARE(p.lines->freshDraws(), quint64(1));
        QCOMPARE(p.lines->partialDraws(), quint64(12));
        const QImage kept = p.image();
        p.lines->invalidate();
        QCOMPARE(Differing(kept, p.image()), 0);

        // Another value range, a zoom, another width: each drawn afresh.
        const quint64 fresh = p.lines->freshDraws();
        p.plot.yAxis->setRange(-70, 60);
        p.plot.replot();
        p.view(5.0, column);
        p.plot.replot();
        p.plot.axisRect()->setMinimumMargins(QMargins(90, 0, 0, 0));
        p.plot.replot();
        QCOMPARE(p.lines->freshDraws(), fresh + 3);
    }

    // An export at twice the size draws the lines itself, at that scale.
    void exportAtAnotherScale() {
        Plot p;
        p.feed(0, 12000);
        p.view(10.0, p.width + 50);
        p.lines->setGraphs(p.graphs);
        p.plot.replot();
        const QImage big = p.plot.toPixmap(640, 320, 2.0).toImage();
        QCOMPARE(big.size(), QSize(1280, 640));
        int red = 0;
        for (int y = 0; y < big.height(); ++y)
            for (int x = 0; x < big.width(); ++x) red += big.pixel(x, y) == QColor(Qt::red).rgb();
        QVERIFY2(red > 1000, qPrintable(QString::number(red)));
    }
};

QTEST_MAIN(tst_TraceRaster)
#include "tst_trace_raster.moc"
