// Draws the update dialog's banner, "update.png", so that the picture is made
// from this readable source at every build. Usage: cloakline_drawlogo OUT.png
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

constexpr int kWidth = 373;
constexpr int kHeight = 65;

// A hooded cloak seen from the front: the program's sign.
QPainterPath Cloak(const QRectF& box) {
    const double x = box.x();
    const double y = box.y();
    const double w = box.width();
    const double h = box.height();
    QPainterPath path;
    path.moveTo(x + w * 0.5, y);
    path.cubicTo(x + w * 0.85, y, x + w * 0.95, y + h * 0.35, x + w * 0.9, y + h * 0.55);
    path.lineTo(x + w, y + h);
    path.lineTo(x, y + h);
    path.lineTo(x + w * 0.1, y + h * 0.55);
    path.cubicTo(x + w * 0.05, y + h * 0.35, x + w * 0.15, y, x + w * 0.5, y);
    path.closeSubpath();
    QPainterPath face;
    face.addEllipse(QRectF(x + w * 0.3, y + h * 0.2, w * 0.4, h * 0.38));
    return path.subtracted(face);
}

// Two arrows chasing each other round a circle: "check again".
void DrawRefresh(QPainter& p, const QPointF& centre, double radius) {
    QPen pen(QColor(255, 255, 255, 230), radius * 0.28, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF ring(centre.x() - radius, centre.y() - radius, radius * 2, radius * 2);
    p.drawArc(ring, 30 * 16, 120 * 16);
    p.drawArc(ring, 210 * 16, 120 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    for (const double angle : {150.0, 330.0}) {
        QTransform t;
        t.translate(centre.x(), centre.y());
        t.rotate(-angle);
        QPolygonF head;
        head << QPointF(radius - radius * 0.4, 0) << QPointF(radius + radius * 0.4, 0)
             << QPointF(radius, radius * 0.45);
        p.drawPolygon(t.map(head));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    // Fonts need a GUI application; no window system is needed to paint.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QImage image(kWidth, kHeight, QImage::Format_ARGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, kWidth, kHeight);
    sky.setColorAt(0.0, QColor(0x12, 0x2b, 0x4a));
    sky.setColorAt(1.0, QColor(0x1d, 0x7a, 0x8c));
    p.fillRect(image.rect(), sky);
    p.fillRect(QRect(0, kHeight - 3, kWidth, 3), QColor(0x5f, 0xd3, 0xc4));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0b, 0x1a, 0x2e, 200));
    p.drawPath(Cloak(QRectF(14, 8, 40, 50)));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(22);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(66, 8, 240, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Cloakline"));
    QFont subtitle(QStringLiteral("DejaVu Sans"));
    subtitle.setPixelSize(13);
    p.setFont(subtitle);
    p.setPen(QColor(0xd8, 0xf3, 0xef));
    p.drawText(QRect(66, 36, 240, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Update check"));

    DrawRefresh(p, QPointF(kWidth - 38, kHeight / 2.0 - 1), 16);
    p.end();
    return image.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
