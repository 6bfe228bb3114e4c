#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>

namespace cloakline::artwork {

// The program's colours, shared by every picture drawn at build time.
inline const QColor kNight(0x10, 0x24, 0x3f);
inline const QColor kSea(0x1b, 0x6f, 0x86);
inline const QColor kMint(0x5f, 0xd3, 0xc4);

// The program's sign: a hooded figure whose face is hidden, filling box.
QPainterPath Hood(const QRectF& box);

// Faint meridians and parallels of a globe inside a circle.
void DrawGlobeLines(QPainter& p, const QPointF& centre, double radius, const QPen& pen);

// The program's icon, size x size pixels: the sign in a ringed medallion.
QImage ProgramIcon(int size);

}  // namespace cloakline::artwork
