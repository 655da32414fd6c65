// The inspection marks drawn over the live picture: the zone circles around
// the fibre, a red ring round each defect, lines along each scratch and the
// verdict in the top left corner. Positions are in the pixels of the frame
// that was inspected; painting maps them onto wherever that frame is shown.
#pragma once

#include <QColor>
#include <QPointF>
#include <QPolygonF>
#include <QSize>
#include <QString>
#include <QVector>

class QPainter;
class QRect;

struct ZoneOverlay {
    enum Verdict { Pass, Fail, CannotInspect };

    struct Defect {
        QPointF centre;
        qreal radius = 0;  // half the diagonal of its bounding box
    };
    struct Scratch {
        QPolygonF line;
        qreal halfWidth = 0;
    };

    QSize imageSize;  // of the inspected frame; empty: nothing to draw
    QPointF centre;
    QVector<qreal> zoneRadii;  // outer radius of each zone, innermost first; empty without a fibre
    QVector<Defect> defects;
    QVector<Scratch> scratches;
    Verdict verdict = CannotInspect;
    QString note;  // why it cannot be inspected

    bool isNull() const { return imageSize.isEmpty(); }
};

// The marks' colours; the annotated pictures of the reports use the same.
QColor zoneOverlayColour(int zoneIndex);
const QColor kOverlayDefectColour(255, 0, 0);
const QColor kOverlayScratchColour(255, 140, 0);
QColor overlayVerdictColour(ZoneOverlay::Verdict verdict);
QString overlayVerdictLabel(ZoneOverlay::Verdict verdict);

// Draws overlay over a frame of overlay.imageSize painted into target.
void paintZoneOverlay(QPainter *painter, const ZoneOverlay &overlay, const QRect &target);
