#include "artwork/ProductSign.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

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

namespace {

const QColor kHoodColour(0xe9, 0xf7, 0xf5);

}  // namespace

void DrawGlobeLines(QPainter& p, const QPointF& centre, double radius, const QPen& pen) {
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(pen);
    for (const double f : {0.4, 0.78}) {
        p.drawEllipse(centre, radius * f, radius);
    }
    p.drawLine(QPointF(centre.x(), centre.y() - radius), QPointF(centre.x(), centre.y() + radius));
    for (const double f : {-0.5, 0.0, 0.5}) {
        const double dy = radius * f;
        const double half = std::sqrt(radius * radius - dy * dy);
        p.drawLine(QPointF(centre.x() - half, centre.y() + dy), QPointF(centre.x() + half, centre.y() + dy));
    }
    p.drawEllipse(centre, radius, radius);
    p.restore();
}

QImage ProgramIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    const QPointF centre(s / 2, s / 2);
    // Small icons get relatively thicker strokes, or the ring vanishes.
    const double ringWidth = size <= 16 ? 1.5 : size <= 32 ? 2.0 : s * 0.05;
    const double radius = s / 2 - ringWidth / 2 - (size <= 16 ? 0.25 : s * 0.02);

    QRadialGradient disc(centre.x() - s * 0.15, centre.y() - s * 0.2, s * 0.75);
    disc.setColorAt(0.0, kSea);
    disc.setColorAt(1.0, kNight);
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(centre, radius, radius);
    QPainterPath inside;
    inside.addEllipse(centre, radius, radius);
    p.save();
    p.setClipPath(inside);
    if (size >= 32) {
        DrawGlobeLines(p, centre, radius * 0.96, QPen(QColor(255, 255, 255, 46), std::max(1.0, s / 128)));
    }
    // The cloak's shoulders run out under the ring, like a portrait in a medallion.
    const double hoodW = s * 0.6;
    const double hoodH = s * 0.76;
    const QRectF hood(centre.x() - hoodW / 2, centre.y() - s * 0.31, hoodW, hoodH);
    p.setBrush(kHoodColour);
    p.drawPath(Hood(hood));
    if (size >= 32) {
        p.setBrush(kMint);
        p.drawEllipse(QPointF(centre.x(), hood.top() + hoodH * 0.3), s * 0.035, s * 0.035);
    }
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kMint, ringWidth));
    p.drawEllipse(centre, radius, radius);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace cloakline::artwork
