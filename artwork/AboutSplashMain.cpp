// Draws the about box's logo "about.png" and the splash picture "splash.png"
// (with per-pixel alpha), so that both are made from this readable source at
// every build. Usage: cloakline_drawartwork ABOUT.png SPLASH.png
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

#include "artwork/ProductSign.h"

using namespace cloakline::artwork;

namespace {

const QColor kPale(0xd8, 0xf3, 0xef);

// Meridians and parallels of a globe, faint, as the backdrop of "anywhere".
void DrawGlobe(QPainter& p, const QPointF& centre, double radius, const QColor& colour) {
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, 1.2));
    p.drawEllipse(centre, radius, radius);
    for (const double f : {0.35, 0.7}) {
        p.drawEllipse(centre, radius * f, radius);
    }
    p.drawLine(QPointF(centre.x(), centre.y() - radius), QPointF(centre.x(), centre.y() + radius));
    for (const double f : {-0.5, 0.0, 0.5}) {
        const double dy = radius * f;
        const double half = std::sqrt(radius * radius - dy * dy);
        p.drawLine(QPointF(centre.x() - half, centre.y() + dy), QPointF(centre.x() + half, centre.y() + dy));
    }
    p.restore();
}

QFont Font(int pixels, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QImage About() {
    constexpr int kWidth = 373;
    constexpr int kHeight = 80;
    QImage image(kWidth, kHeight, QImage::Format_ARGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, kWidth, kHeight);
    sky.setColorAt(0.0, kNight);
    sky.setColorAt(1.0, kSea);
    p.fillRect(image.rect(), sky);
    DrawGlobe(p, QPointF(kWidth - 46, kHeight / 2.0 + 6), 52, QColor(255, 255, 255, 38));
    p.fillRect(QRect(0, kHeight - 3, kWidth, 3), kMint);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0b, 0x1c, 0x33));
    p.setPen(QPen(kMint, 2));
    p.drawEllipse(QPointF(41, 40), 29, 29);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe9, 0xf7, 0xf5));
    p.drawPath(Hood(QRectF(26, 21, 30, 37)));
    p.setBrush(kMint);
    p.drawEllipse(QPointF(41, 32), 1.8, 1.8);

    p.setFont(Font(26, true));
    p.setPen(Qt::white);
    p.drawText(QRect(78, 12, 260, 34), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Cloakline"));
    p.setFont(Font(13, false));
    p.setPen(kPale);
    p.drawText(QRect(80, 46, 260, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Browse from anywhere"));
    p.end();
    return image;
}

QImage Splash() {
    constexpr int kWidth = 450;
    constexpr int kHeight = 250;
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // A soft shadow, then the card: both fade into the transparent desktop.
    const QRectF card(18, 34, kWidth - 36, kHeight - 56);
    for (int i = 12; i >= 1; --i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 4));
        p.drawRoundedRect(card.adjusted(-i, -i + 4, i, i + 4), 18 + i, 18 + i);
    }
    QLinearGradient sky(card.topLeft(), card.bottomRight());
    sky.setColorAt(0.0, kNight);
    sky.setColorAt(1.0, kSea);
    QPainterPath cardPath;
    cardPath.addRoundedRect(card, 18, 18);
    p.fillPath(cardPath, sky);
    p.save();
    p.setClipPath(cardPath);
    DrawGlobe(p, QPointF(card.right() - 60, card.center().y() + 10), 120, QColor(255, 255, 255, 30));
    p.fillRect(QRectF(card.left(), card.bottom() - 4, card.width(), 4), kMint);
    p.restore();

    // The sign in a glowing ring on the card's left.
    const QPointF centre(94, 112);
    QRadialGradient glow(centre, 70);
    glow.setColorAt(0.0, QColor(kMint.red(), kMint.green(), kMint.blue(), 90));
    glow.setColorAt(1.0, QColor(kMint.red(), kMint.green(), kMint.blue(), 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(centre, 70, 70);
    p.setBrush(QColor(0x0b, 0x1c, 0x33));
    p.setPen(QPen(kMint, 3));
    p.drawEllipse(centre, 52, 52);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe9, 0xf7, 0xf5));
    p.drawPath(Hood(QRectF(centre.x() - 27, centre.y() - 34, 54, 66)));
    p.setBrush(kMint);
    p.drawEllipse(QPointF(centre.x(), centre.y() - 14), 2.6, 2.6);

    p.setFont(Font(38, true));
    p.setPen(Qt::white);
    p.drawText(QRectF(166, 76, 260, 48), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Cloakline"));
    p.setFont(Font(15, false));
    p.setPen(kPale);
    p.drawText(QRectF(168, 124, 260, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Your address stays yours"));
    p.setFont(Font(11, false));
    p.setPen(QColor(255, 255, 255, 170));
    p.drawText(QRectF(168, 176, 240, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Starting\u2026"));
    p.end();
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ABOUT.png SPLASH.png\n", argv[0]);
        return 2;
    }
    // Fonts need a GUI application; no window system is needed to paint.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const bool about = About().save(QString::fromLocal8Bit(argv[1]), "PNG");
    const bool splash =
        Splash().convertToFormat(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[2]), "PNG");
    return about && splash ? 0 : 1;
}
