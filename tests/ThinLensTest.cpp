#include "lightfield/ThinLens.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <set>

Q_DECLARE_METATYPE(QPointF)

// How the lens chooses its camera positions and the stored views that answer for them, and how
// its passes share the views out: the planning that needs no GL.
class ThinLensTest : public QObject
{
    Q_OBJECT

    static double distance(QPointF a, QPointF b)
    {
        return std::hypot(a.x() - b.x(), a.y() - b.y());
    }

private slots:
    // Equal shares of the disc: as many points within radius r as r² says, on each side of any
    // line through the centre as many as on the other, none outside, their mean the centre.
    void spiralSharesTheDiscEvenly_data()
    {
        QTest::addColumn<int>("count");
        for (int count : {8, 12, 31, 64})
            QTest::addRow("%d points", count) << count;
    }
    void spiralSharesTheDiscEvenly()
    {
        QFETCH(int, count);
        const std::vector<QPointF> points = unitDiscSpiral(count);
        QCOMPARE(int(points.size()), count);
        QPointF mean;
        for (const QPointF &point : points) {
            QVERIFY(std::hypot(point.x(), point.y()) < 1.0);
            mean += point / count;
        }
        QVERIFY2(std::hypot(mean.x(), mean.y()) < 2.0 / count,
                 qPrintable(QString("mean (%1, %2)").arg(mean.x()).arg(mean.y())));
        for (double radius : {0.25, 0.5, 0.75}) {
            const auto inside = std::count_if(points.begin(), points.end(), [&](QPointF point) {
                return std::hypot(point.x(), point.y()) <= radius;
            });
            QVERIFY(std::abs(double(inside) - radius * radius * count) <= 1.0);
        }
        for (double angle = 0.0; angle < 3.2; angle += 0.4) {
            const auto onOneSide = std::count_if(points.begin(), points.end(), [&](QPointF point) {
                return point.x() * std::cos(angle) + point.y() * std::sin(angle) > 0.0;
            });
            QVERIFY2(std::abs(double(onOneSide) - 0.5 * count) <= 0.1 * count + 1.0,
                     qPrintable(QString("%1 of %2 on one side").arg(onOneSide).arg(count)));
        }
    }

    // Each position lies within the aperture and is answered by the nearest stored view (the
    // grid's edge view beyond its edge) and the next nearest view of its cell.
    void samplesTakeTheNearestViews_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QPointF>("centre");
        QTest::addColumn<double>("aperture");
        QTest::addRow("inside a 9x9 grid") << 9 << 9 << QPointF(3.5, 4.25) << 1.0;
        QTest::addRow("on a stored view") << 9 << 9 << QPointF(4.0, 4.0) << 2.0;
        QTest::addRow("reaching past the corner") << 9 << 9 << QPointF(0.3, 0.2) << 2.0;
        QTest::addRow("sparse grid") << 3 << 3 << QPointF(1.0, 1.0) << 1.0;
        QTest::addRow("single row") << 5 << 1 << QPointF(2.4, 0.0) << 1.5;
        QTest::addRow("single view") << 1 << 1 << QPointF(0.0, 0.0) << 0.5;
    }
    void samplesTakeTheNearestViews()
    {
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(QPointF, centre);
        QFETCH(double, aperture);
        const ThinLens lens {6.0f, float(aperture)};
        const std::vector<LensSample> samples = lensSamples(centre, lens, columns, rows, 40);
        QCOMPARE(int(samples.size()), 40);
        for (const LensSample &sample : samples) {
            QVERIFY(distance(sample.position, centre) < aperture + 1e-9);
            // The nearest of every view of the grid, the position held to the grid first.
            const QPointF held(std::clamp(sample.position.x(), 0.0, columns - 1.0),
                               std::clamp(sample.position.y(), 0.0, rows - 1.0));
            double nearest = 1e9;
            for (int column = 0; column < columns; ++column) {
                for (int row = 0; row < rows; ++row)
                    nearest = std::min(nearest, distance(held, QPointF(column, row)));
            }
            QVERIFY(std::abs(distance(held, sample.nearest) - nearest) < 1e-9);
            // The next is a neighbour of the nearest in the grid, no nearer to the position.
            QVERIFY(std::abs(sample.next.x() - sample.nearest.x()) <= 1);
            QVERIFY(std::abs(sample.next.y() - sample.nearest.y()) <= 1);
            QVERIFY(distance(sample.position, sample.next)
                    >= distance(sample.position, sample.nearest) - 1e-9);
            for (QPoint view : {sample.nearest, sample.next}) {
                QVERIFY(view.x() >= 0 && view.x() < columns);
                QVERIFY(view.y() >= 0 && view.y() < rows);
            }
            // Only a grid without a second view in any direction has no other view to ask.
            if (columns > 1 || rows > 1)
                QVERIFY(sample.next != sample.nearest);
        }
    }

    // Every sample in exactly one pass, which reads both its views and no more views than
    // allowed; an aperture of one view step on a 9 × 9 grid fits one pass of 15 views.
    void passesShareTheViewsOut_data()
    {
        QTest::addColumn<double>("aperture");
        QTest::addColumn<int>("viewsPerPass");
        QTest::addColumn<int>("mostPasses");
        QTest::addRow("aperture 1, 15 views") << 1.0 << 15 << 1;
        QTest::addRow("aperture 1, 7 views") << 1.0 << 7 << 3;
        QTest::addRow("aperture 2, 15 views") << 2.0 << 15 << 4;
        QTest::addRow("aperture 4, 2 views") << 4.0 << 2 << 64;
    }
    void passesShareTheViewsOut()
    {
        QFETCH(double, aperture);
        QFETCH(int, viewsPerPass);
        QFETCH(int, mostPasses);
        const std::vector<LensSample> samples =
            lensSamples(QPointF(4.3, 3.6), {2.0f, float(aperture)}, 9, 9, 64);
        const std::vector<LensPass> passes = planLensPasses(samples, viewsPerPass);
        QVERIFY(!passes.empty());
        QVERIFY2(int(passes.size()) <= mostPasses, qPrintable(QString::number(passes.size())));
        std::multiset<std::pair<double, double>> planned, given;
        for (const LensPass &pass : passes) {
            QVERIFY(!pass.samples.empty());
            QVERIFY(int(pass.views.size()) <= viewsPerPass);
            std::set<std::pair<int, int>> distinct;
            for (QPoint view : pass.views)
                distinct.insert({view.x(), view.y()});
            QCOMPARE(int(distinct.size()), int(pass.views.size()));
            for (const LensSample &sample : pass.samples) {
                for (QPoint view : {sample.nearest, sample.next}) {
                    QVERIFY(std::find(pass.views.begin(), pass.views.end(), view)
                            != pass.views.end());
                }
                planned.insert({sample.position.x(), sample.position.y()});
            }
        }
        for (const LensSample &sample : samples)
            given.insert({sample.position.x(), sample.position.y()});
        QVERIFY(planned == given);
    }

    // Enough positions that a surface's copies lie no more than seven pixels apart and that every
    // square view step of the aperture has two and a half, within the bounds; one for a pinhole.
    void sampleCountFollowsTheBlur()
    {
        QCOMPARE(lensSampleCount({5.0f, 0.0f}, 12), 1);
        QCOMPARE(lensSampleCount({6.0f, 0.25f}, 12), 8);
        QCOMPARE(lensSampleCount({0.0f, 4.0f}, 48), maxLensSamples);
        int previous = 0;
        for (float aperture = 0.25f; aperture <= 4.0f; aperture += 0.25f) {
            for (float focus : {0.0f, 3.0f, 6.0f, 12.0f}) {
                const ThinLens lens {focus, aperture};
                const int count = lensSampleCount(lens, 12);
                QVERIFY(count >= 8 && count <= maxLensSamples);
                const double blur = aperture * std::max(focus, 12.0f - focus);
                if (count < maxLensSamples) {
                    QVERIFY(blur * std::sqrt(std::acos(-1.0) / count) <= 7.0 + 1e-9);
                    QVERIFY(count >= 2.5 * std::acos(-1.0) * aperture * aperture - 1e-9);
                }
            }
            const int count = lensSampleCount({0.0f, aperture}, 12);
            QVERIFY(count >= previous);
            previous = count;
        }
    }

    void widestApertureIsHalfTheSmallerSide()
    {
        QCOMPARE(maxLensAperture(9, 9), 4.0);
        QCOMPARE(maxLensAperture(3, 5), 1.0);
        QCOMPARE(maxLensAperture(8, 20), 3.5);
        QCOMPARE(maxLensAperture(1, 9), 0.0);
    }
};

QTEST_APPLESS_MAIN(ThinLensTest)
#include "ThinLensTest.moc"
