#include "artwork/ProductSign.h"

namespace cloakline::artwork {

QPainterPath Hood(const QRectF& box) {
    const double x = box.x();
    const double y = box.y();
    const double w = box.width();
    const double h = box.height();
    QPainterPath cloak;
    cloak.moveTo(x + w * 0.5, y);
    cloak.cubicTo(x + w * 0.88, y + h * 0.02, x + w * 0.98, y + h * 0.4, x + w * 0.86, y + h * 0.6);
    cloak.cubicTo(x + w * 0.95, y + h * 0.78, x + w, y + h * 0.9, x + w, y + h);
    cloak.lineTo(x, y + h);
    cloak.cubicTo(x, y + h * 0.9, x + w * 0.05, y + h * 0.78, x + w * 0.14, y + h * 0.6);
    cloak.cubicTo(x + w * 0.02, y + h * 0.4, x + w * 0.12, y + h * 0.02, x + w * 0.5, y);
    cloak.closeSubpath();
    QPainterPath opening;
    opening.moveTo(x + w * 0.5, y + h * 0.17);
    opening.cubicTo(x + w * 0.75, y + h * 0.18, x + w * 0.76, y + h * 0.5, x + w * 0.5, y + h * 0.6);
    opening.cubicTo(x + w * 0.24, y + h * 0.5, x + w * 0.25, y + h * 0.18, x + w * 0.5, y + h * 0.17);
    opening.closeSubpath();
    return cloak.subtracted(opening);
}

}  // namespace cloakline::artwork
