#include <QRandomGenerator>
#include <QtTest>
#include <cmath>
#include <map>

#include "views/MinMaxThinner.h"

// The thinning behind the Signals window's lines: whatever is dropped, each
// pixel column keeps the lowest and the highest sample of every line piece
// in it, in time order, and the pieces stay apart.
class tst_MinMaxThinner : public QObject {
    Q_OBJECT

    struct Series {
        QVector<double> keys, values;
        QVector<bool> breaks;
    };

    // Samples with uneven spacing, noise, rare spikes both ways and breaks.
    static Series Make(quint32 seed, int n, double step, int breakEvery) {
        QRandomGenerator rng(seed);
        Series s;
        double key = 0;
        for (int i = 0; i < n; ++i) {
            key += step * (0.2 + 1.6 * rng.generateDouble());
            double v = rng.bounded(11) - 5;
            if (rng.bounded(200) == 0) v = rng.bounded(2) ? 1000 : -1000;
            s.keys << key;
            s.values << v;
            s.breaks << (breakEvery > 0 && i > 0 && rng.bounded(breakEvery) == 0);
        }
        return s;
    }

    // Splits points into pieces at NaN values (output) or at breaks (input).
    static QVector<QVector<QPair<double, double>>> Split(const QVector<double>& keys, const QVector<double>& values,
                                                         const QVector<bool>* breaks) {
        QVector<QVector<QPair<double, double>>> pieces(1);
        for (int i = 0; i < keys.size(); ++i) {
            if (breaks ? (*breaks)[i] : std::isnan(values[i])) {
                pieces.append(QVector<QPair<double, double>>());
                if (!breaks) continue;
            }
            pieces.last().append({keys[i], values[i]});
        }
        return pieces;
    }

private slots:
    void keepsEveryExtreme_data() {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("step");
        QTest::addColumn<double>("width");
        QTest::addColumn<int>("breakEvery");
        QTest::newRow("dense, no breaks") << 1u << 20000 << 0.01 << 0.5 << 0;
        QTest::newRow("dense, breaks") << 2u << 20000 << 0.01 << 0.5 << 300;
        QTest::newRow("about one per column") << 3u << 5000 << 0.5 << 0.5 << 50;
        QTest::newRow("sparse") << 4u << 500 << 3.0 << 0.5 << 20;
        QTest::newRow("breaks everywhere") << 5u << 3000 << 0.05 << 1.0 << 2;
        QTest::newRow("narrow columns") << 6u << 10000 << 0.001 << 0.0037 << 100;
    }
    void keepsEveryExtreme() {
        QFETCH(quint32, seed);
        QFETCH(int, count);
        QFETCH(double, step);
        QFETCH(double, width);
        QFETCH(int, breakEvery);
        const Series in = Make(seed, count, step, breakEvery);
        QVector<double> keys, values;
        MinMaxThinner thinner(width, &keys, &values);
        for (int i = 0; i < in.keys.size(); ++i) thinner.add(in.keys[i], in.values[i], in.breaks[i]);
        thinner.finish();

        for (int i = 1; i < keys.size(); ++i) QVERIFY(keys[i] >= keys[i - 1]);
        const auto inPieces = Split(in.keys, in.values, &in.breaks);
        const auto outPieces = Split(keys, values, nullptr);
        QCOMPARE(outPieces.size(), inPieces.size());
        for (int p = 0; p < inPieces.size(); ++p) {
            // Per column: the input's extremes, and what was kept.
            std::map<int64_t, QPair<double, double>> want;
            for (const auto& [k, v] : inPieces[p]) {
                const int64_t c = MinMaxThinner::columnOf(k, width);
                auto it = want.find(c);
                if (it == want.end())
                    want[c] = {v, v};
                else
                    it->second = {std::min(it->second.first, v), std::max(it->second.second, v)};
            }
            std::map<int64_t, QVector<QPair<double, double>>> kept;
            for (const auto& point : outPieces[p]) kept[MinMaxThinner::columnOf(point.first, width)].append(point);
            QCOMPARE(kept.size(), want.size());
            for (const auto& [c, extremes] : want) {
                const QVector<QPair<double, double>>& points = kept[c];
                QVERIFY(points.size() <= 2);
                double lo = 1e300, hi = -1e300;
                for (const auto& point : points) {
                    lo = std::min(lo, point.second);
                    hi = std::max(hi, point.second);
                    // A kept point is a sample, at its own time.
                    QVERIFY(inPieces[p].contains(point));
                }
                QCOMPARE(lo, extremes.first);
                QCOMPARE(hi, extremes.second);
            }
        }
    }

    // Zero width keeps every point; a continuation emits a break before its
    // first point only when it starts a piece.
    void unthinnedAndContinued() {
        QVector<double> keys, values;
        MinMaxThinner all(0.0, &keys, &values);
        all.add(1, 5, true);  // nothing before it: no break
        all.add(1, 6, false);
        all.add(2, 7, true);
        all.finish();
        QCOMPARE(keys, (QVector<double>{1, 1, 2, 2}));
        QCOMPARE(values.size(), 4);
        QVERIFY(std::isnan(values[2]));

        keys.clear();
        values.clear();
        MinMaxThinner more(0.5, &keys, &values, true);
        more.add(3.1, 1, true);
        more.add(3.2, 9, false);
        more.add(3.3, 4, false);
        more.finish();
        QCOMPARE(keys, (QVector<double>{3.1, 3.1, 3.2}));
        QVERIFY(std::isnan(values[0]));
        QCOMPARE(values[1], 1.0);
        QCOMPARE(values[2], 9.0);
    }
};

QTEST_GUILESS_MAIN(tst_MinMaxThinner)
#include "tst_min_max_thinner.moc"
