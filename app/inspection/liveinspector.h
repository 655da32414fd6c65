#pragma once

#include "zoneoverlay.h"

#include <QImage>
#include <QObject>
#include <QThread>

// Inspects live frames on a thread of its own, so the picture never waits
// for the analysis. One frame is inspected at a time; frames that arrive
// meanwhile replace each other, and only the newest is inspected next.
class LiveInspector : public QObject
{
    Q_OBJECT

public:
    explicit LiveInspector(QObject *parent = nullptr);
    ~LiveInspector() override;

    void submit(const QImage &frame);
    // Forgets the waiting frame; the result of the frame being inspected
    // is dropped when it comes.
    void reset();

signals:
    void overlayReady(const ZoneOverlay &overlay);

private:
    void start(const QImage &frame);
    void finish(quint64 generation, const ZoneOverlay &overlay);

    QThread mThread;
    QObject *mWorkerContext;  // lives in mThread; runs the analysis there
    bool mBusy;
    QImage mPending;
    quint64 mGeneration;
};
