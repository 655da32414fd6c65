// The live inspection: one frame inspected at a time, frames that arrive
// meanwhile replace each other so only the newest is inspected next, and a
// reset drops whatever was on its way.
#include "liveinspector.h"

#include <QtTest>

namespace {

constexpr int kWaitMs = 15000;

QImage frameOfWidth(int width)
{
    QImage frame(width, width * 3 / 4, QImage::Format_RGB888);
    frame.fill(QColor(60, 60, 60));
    return frame;
}

} // namespace

class LiveInspectorTest : public QObject
{
    Q_OBJECT

private slots:
    void burstIsInspectedFirstAndNewest();
    void resetDropsTheResultOnItsWay();
};

void LiveInspectorTest::burstIsInspectedFirstAndNewest()
{
    LiveInspector inspector;
    QList<QSize> inspected;
    connect(&inspector, &LiveInspector::overlayReady, this,
            [&](const ZoneOverlay &overlay) { inspected << overlay.imageSize; });

    // Handed over faster than any analysis: the first starts at once, the
    // rest wait, each replacing the one before.
    for (int width = 200; width <= 400; width += 20)
        inspector.submit(frameOfWidth(width));
    inspector.submit(QImage());
    QTRY_COMPARE_WITH_TIMEOUT(inspected.size(), 2, kWaitMs);
    QTest::qWait(300);
    QCOMPARE(inspected, QList<QSize>({frameOfWidth(200).size(), frameOfWidth(400).size()}));

    // Idle again: the next frame starts at once.
    inspector.submit(frameOfWidth(240));
    QTRY_COMPARE_WITH_TIMEOUT(inspected.size(), 3, kWaitMs);
    QCOMPARE(inspected.last(), frameOfWidth(240).size());
}

void LiveInspectorTest::resetDropsTheResultOnItsWay()
{
    LiveInspector inspector;
    QList<QSize> inspected;
    connect(&inspector, &LiveInspector::overlayReady, this,
            [&](const ZoneOverlay &overlay) { inspected << overlay.imageSize; });

    inspector.submit(frameOfWidth(200));
    inspector.submit(frameOfWidth(300));
    inspector.reset();
    // The frame in flight still ends, unseen; then the inspector takes new work.
    inspector.submit(frameOfWidth(400));
    QTRY_COMPARE_WITH_TIMEOUT(inspected.size(), 1, kWaitMs);
    QTest::qWait(300);
    QCOMPARE(inspected, QList<QSize>({frameOfWidth(400).size()}));
}

QTEST_MAIN(LiveInspectorTest)
#include "liveinspector_test.moc"
