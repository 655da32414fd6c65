#include "zoneoverlay.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>

#include <cmath>

namespace {

// Marks in screen pixels: thin enough to leave the face visible, thick
// enough to find.
const qreal kLineWidth = 2.0;
const qreal kDefectMargin = 4.0;
const qreal kSmallestDefectRing = 7.0;
const qreal kScratchMargin = 3.0;
const int kTextMargin = 6;

void drawScratch(QPainter *painter, const ZoneOverlay::Scratch &scratch, const QTransform &toScreen, qreal scale)
{
    const qreal offset = scratch.halfWidth * scale + kScratchMargin;
    const QPolygonF line = toScreen.map(scratch.line);
    for (int i = 1; i < line.size(); ++i) {
        const QPointF a = line[i - 1];
        const QPointF b = line[i];
        const qreal length = std::hypot(b.x() - a.x(), b.y() - a.y());
        if (length <= 0)
            continue;
        const QPointF normal((a.y() - b.y()) / length * offset, (b.x() - a.x()) / length * offset);
        painter->drawLine(QLineF(a + normal, b + normal));
        painter->drawLine(QLineF(a - normal, b - normal));
    }
}

void drawVerdict(QPainter *painter, const ZoneOverlay &overlay, const QRect &target)
{
    QFont font = painter->font();
    font.setBold(true);
    font.setPointSize(14);
    painter->setFont(font);
    const QString label = overlayVerdictLabel(overlay.verdict);
    QString text = label;
    if (overlay.verdict == ZoneOverlay::CannotInspect && !overlay.note.isEmpty())
        text += QStringLiteral(": ") + overlay.note;
    const QFontMetrics metrics(font);
    const int width = std::min(metrics.horizontalAdvance(text), target.width() - 4 * kTextMargin);
    const QRect box(target.left() + kTextMargin, target.top() + kTextMargin, width + 2 * kTextMargin,
                    metrics.height() + kTextMargin);
    painter->fillRect(box, overlayVerdictColour(overlay.verdict));
    painter->setPen(Qt::white);
    painter->drawText(box.adjusted(kTextMargin, 0, -kTextMargin, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(text, Qt::ElideRight, width));
}

} // namespace

QColor zoneOverlayColour(int zoneIndex)
{
    static const QColor colours[] = {QColor(0, 255, 255), QColor(0, 255, 0), QColor(255, 255, 0),
                                     QColor(255, 0, 255)};
    const int count = int(sizeof colours / sizeof colours[0]);
    return colours[((zoneIndex % count) + count) % count];
}

QColor overlayVerdictColour(ZoneOverlay::Verdict verdict)
{
    switch (verdict) {
    case ZoneOverlay::Pass:
        return QColor(0, 150, 0);
    case ZoneOverlay::Fail:
        return QColor(210, 0, 0);
    case ZoneOverlay::CannotInspect:
        break;
    }
    return QColor(100, 100, 100);
}

QString overlayVerdictLabel(ZoneOverlay::Verdict verdict)
{
    switch (verdict) {
    case ZoneOverlay::Pass:
        return QStringLiteral("PASS");
    case ZoneOverlay::Fail:
        return QStringLiteral("FAIL");
    case ZoneOverlay::CannotInspect:
        break;
    }
    return QStringLiteral("CANNOT INSPECT");
}

void paintZoneOverlay(QPainter *painter, const ZoneOverlay &overlay, const QRect &target)
{
    if (overlay.isNull() || target.isEmpty())
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setClipRect(target);
    painter->setBrush(Qt::NoBrush);

    // The frame is scaled with its aspect ratio kept, so one factor serves
    // for lengths.
    const qreal scaleX = qreal(target.width()) / overlay.imageSize.width();
    const qreal scaleY = qreal(target.height()) / overlay.imageSize.height();
    const QTransform toScreen = QTransform::fromTranslate(target.left(), target.top()).scale(scaleX, scaleY);
    const qreal scale = (scaleX + scaleY) / 2.0;
    const QPointF centre = toScreen.map(overlay.centre);

    for (int i = 0; i < overlay.zoneRadii.size(); ++i) {
        painter->setPen(QPen(zoneOverlayColour(i), kLineWidth));
        const qreal radius = overlay.zoneRadii[i] * scale;
        painter->drawEllipse(centre, radius, radius);
    }
    painter->setPen(QPen(kOverlayDefectColour, kLineWidth));
    for (const ZoneOverlay::Defect &defect : overlay.defects) {
        const qreal radius = std::max(defect.radius * scale + kDefectMargin, kSmallestDefectRing);
        painter->drawEllipse(toScreen.map(defect.centre), radius, radius);
    }
    painter->setPen(QPen(kOverlayScratchColour, kLineWidth));
    for (const ZoneOverlay::Scratch &scratch : overlay.scratches)
        drawScratch(painter, scratch, toScreen, scale);

    drawVerdict(painter, overlay, target);
    painter->restore();
}
