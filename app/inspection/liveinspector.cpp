#include "liveinspector.h"

#include "endfaceimages.h"

LiveInspector::LiveInspector(QObject *parent)
    : QObject(parent)
    , mWorkerContext(new QObject)
    , mBusy(false)
    , mGeneration(0)
{
    mThread.setObjectName(QStringLiteral("LiveInspector"));
    mWorkerContext->moveToThread(&mThread);
    mThread.start();
}

LiveInspector::~LiveInspector()
{
    // One analysis at most is running, and it ends within a frame's time.
    mThread.quit();
    mThread.wait();
    delete mWorkerContext;
}

void LiveInspector::submit(const QImage &frame)
{
    if (frame.isNull())
        return;
    if (mBusy) {
        mPending = frame;
        return;
    }
    start(frame);
}

void LiveInspector::reset()
{
    ++mGeneration;
    mPending = QImage();
}

void LiveInspector::start(const QImage &frame)
{
    mBusy = true;
    const quint64 generation = mGeneration;
    QMetaObject::invokeMethod(
        mWorkerContext,
        [this, frame, generation] {
            const ZoneOverlay overlay = inspectFrame(frame);
            // Runs on the GUI thread; dropped if this object is gone by then.
            QMetaObject::invokeMethod(
                this, [this, generation, overlay] { finish(generation, overlay); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void LiveInspector::finish(quint64 generation, const ZoneOverlay &overlay)
{
    mBusy = false;
    if (!mPending.isNull()) {
        const QImage next = mPending;
        mPending = QImage();
        start(next);
    }
    if (generation == mGeneration)
        emit overlayReady(overlay);
}
