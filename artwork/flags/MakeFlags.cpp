// Makes the country flags and the program icon that ship in "res/" beside the
// program, from Debian's ISO flag artwork (320 x 240 PNG files named by lower-case
// two-letter code), in one run:
//   res/flags/<CODE>.PNG       48 x 48, the status panel's cards and the chooser
//   res/flag_short/<CODE>.PNG  48 x 48, the main window's flag of the fake location
//   res/icon.ico               the tray and window icon, 16, 32, 48 and 256 px
// plus UN.PNG ("any country") in both folders, drawn here.
// Usage: cloakline_makeflags ARTWORK_DIR PROGRAM_DIR STAMP_FILE
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "artwork/ProductSign.h"

using namespace cloakline::artwork;

namespace {

constexpr int kCardSize = 48;
// The main window's picture is a 48 x 48 slot that is also filled by flags fetched
// from the server at that size, so the shipped ones match them.
constexpr int kShortSize = 48;

struct Flag {
    QString code;
    QImage picture;
};

// The smallest rectangle holding every visibly covered pixel.
QRect CoveredRect(const QImage& image) {
    int left = image.width();
    int top = image.height();
    int right = -1;
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) > 8) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// The artwork's card (with its own rounded corners and shadow), cropped to what
// every flag covers, so all flags share one frame and the shadow is kept.
QImage Fit(const QImage& source, const QRect& crop, int size) {
    const QImage cropped = source.copy(crop);
    // A pixel of air on each side keeps neighbouring flags in a list apart.
    const QSize target = cropped.size().scaled(size - 2, size - 2, Qt::KeepAspectRatio);
    // The smooth filter averages every source pixel at this reduction (about 1:6).
    const QImage scaled = cropped.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage square(size, size, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    QPainter p(&square);
    p.drawImage(QPoint((size - target.width()) / 2, (size - target.height()) / 2), scaled);
    p.end();
    return square.convertToFormat(QImage::Format_ARGB32);
}

// The artwork leaves faint half-transparent seams where two colours meet, which
// show as dark lines on a dark card; inside the blank card's opaque area the
// flag is made opaque. A flag that is translucent by design (the "unknown" one)
// stays as it is.
void CloseSeams(QImage& flag, const QImage& blank) {
    if (blank.isNull() || blank.size() != flag.size()) {
        return;
    }
    for (int y = 0; y < flag.height(); ++y) {
        const auto* b = reinterpret_cast<const QRgb*>(blank.constScanLine(y));
        auto* f = reinterpret_cast<QRgb*>(flag.scanLine(y));
        for (int x = 0; x < flag.width(); ++x) {
            if (qAlpha(b[x]) == 255 && qAlpha(f[x]) >= 128) {
                f[x] |= 0xff000000u;
            }
        }
    }
}

// "Any country": a white globe on sky blue, drawn into the shape and lighting of the
// artwork's blank card so that it sits among the flags; a plain rounded card when
// the artwork has no blank one.
QImage AnyCountry(const QImage& blank, const QSize& size) {
    QImage design(size, QImage::Format_ARGB32_Premultiplied);
    design.fill(Qt::transparent);
    QPainter p(&design);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card = blank.isNull() ? QRectF(QPointF(0, 0), QSizeF(size)).adjusted(28, 28, -28, -28)
                                       : QRectF(CoveredRect(blank));
    QLinearGradient sky(card.topLeft(), card.bottomLeft());
    sky.setColorAt(0.0, QColor(0x5b, 0xa4, 0xe6));
    sky.setColorAt(1.0, QColor(0x2f, 0x7b, 0xc8));
    p.fillRect(design.rect(), sky);
    const double radius = card.height() * 0.36;
    DrawGlobeLines(p, card.center(), radius, QPen(Qt::white, card.height() * 0.045));
    p.end();

    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    if (blank.isNull()) {
        QPainter q(&out);
        q.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(card, card.height() * 0.08, card.height() * 0.08);
        q.setClipPath(shape);
        q.drawImage(0, 0, design);
        return out.convertToFormat(QImage::Format_ARGB32);
    }
    // The blank card is grey with light and shade; its lightness relative to its
    // middle tone shades the design, and its alpha gives the corners and shadow.
    const QImage grey = blank.convertToFormat(QImage::Format_ARGB32);
    const QRgb mid = grey.pixel(card.center().toPoint());
    const double midTone = std::max(1, qGray(mid));
    const QImage flat = design.convertToFormat(QImage::Format_ARGB32);
    QImage result(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        const auto* g = reinterpret_cast<const QRgb*>(grey.constScanLine(y));
        const auto* d = reinterpret_cast<const QRgb*>(flat.constScanLine(y));
        auto* r = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const double light = qGray(g[x]) / midTone;
            auto shade = [light](int c) {
                return std::clamp(static_cast<int>(std::lround(c * light)), 0, 255);
            };
            r[x] = qRgba(shade(qRed(d[x])), shade(qGreen(d[x])), shade(qBlue(d[x])), qAlpha(g[x]));
        }
    }
    return result;
}

void Put16(QByteArray& out, int v) {
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>((v >> 8) & 0xff));
}

void Put32(QByteArray& out, std::uint32_t v) {
    Put16(out, static_cast<int>(v & 0xffff));
    Put16(out, static_cast<int>(v >> 16));
}

// A 32-bit bottom-up device-independent bitmap with its AND mask, the form every
// version of Windows reads; the 256 px entry is kept as PNG, as Windows expects.
QByteArray IconEntryData(const QImage& image) {
    QByteArray data;
    if (image.width() >= 256) {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return data;
    }
    const int w = image.width();
    const int h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;
    Put32(data, 40);
    Put32(data, static_cast<std::uint32_t>(w));
    Put32(data, static_cast<std::uint32_t>(h * 2));
    Put16(data, 1);
    Put16(data, 32);
    Put32(data, 0);
    Put32(data, static_cast<std::uint32_t>(w * h * 4 + maskStride * h));
    for (int i = 0; i < 4; ++i) {
        Put32(data, 0);
    }
    for (int y = h - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            Put32(data, line[x]);  // QRgb is 0xAARRGGBB, stored little-endian as B, G, R, A
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(line[x]) == 0) {
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        data.append(row);
    }
    return data;
}

QByteArray IconFile(const std::vector<QImage>& images) {
    QByteArray out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<int>(images.size()));
    std::vector<QByteArray> entries;
    for (const QImage& image : images) {
        entries.push_back(IconEntryData(image));
    }
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        out.append(static_cast<char>(images[i].width() >= 256 ? 0 : images[i].width()));
        out.append(static_cast<char>(images[i].height() >= 256 ? 0 : images[i].height()));
        out.append('\0');
        out.append('\0');
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, static_cast<std::uint32_t>(entries[i].size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(entries[i].size());
    }
    for (const QByteArray& entry : entries) {
        out.append(entry);
    }
    return out;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool Save(const QImage& image, const QString& path) {
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s ARTWORK_DIR PROGRAM_DIR STAMP_FILE\n", argv[0]);
        return 2;
    }
    const QDir artwork(QString::fromLocal8Bit(argv[1]));
    const QDir program(QString::fromLocal8Bit(argv[2]));
    const QString cards = program.filePath(QStringLiteral("res/flags"));
    const QString shorts = program.filePath(QStringLiteral("res/flag_short"));
    if (!QDir().mkpath(cards) || !QDir().mkpath(shorts)) {
        std::fprintf(stderr, "cannot make the flag folders in %s\n", argv[2]);
        return 1;
    }

    // Only two-letter names are country codes; the rest ("_wales", "brl") are not.
    static const QRegularExpression codeName(QStringLiteral("^([a-z]{2})\\.png$"),
                                             QRegularExpression::CaseInsensitiveOption);
    std::vector<Flag> flags;
    QRect frame;
    for (const QString& name : artwork.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name)) {
        const auto match = codeName.match(name);
        if (!match.hasMatch()) {
            continue;
        }
        QImage picture(artwork.filePath(name));
        if (picture.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(artwork.filePath(name)));
            return 1;
        }
        picture = picture.convertToFormat(QImage::Format_ARGB32);
        frame = frame.united(CoveredRect(picture));
        flags.push_back({match.captured(1).toUpper(), picture});
    }
    if (flags.empty()) {
        std::fprintf(stderr, "no two-letter flag pictures in %s\n", argv[1]);
        return 1;
    }
    const QSize artworkSize = flags.front().picture.size();
    QImage blank(artwork.filePath(QStringLiteral("_generic.png")));
    if (!blank.isNull()) {
        blank = blank.convertToFormat(QImage::Format_ARGB32).scaled(artworkSize);
    }
    for (Flag& flag : flags) {
        CloseSeams(flag.picture, blank);
    }
    flags.push_back({QStringLiteral("UN"), AnyCountry(blank, artworkSize)});

    for (const Flag& flag : flags) {
        const QString file = flag.code + QStringLiteral(".PNG");
        const QImage card = Fit(flag.picture, frame, kCardSize);
        if (!Save(card, cards + QLatin1Char('/') + file) ||
            !Save(kShortSize == kCardSize ? card : Fit(flag.picture, frame, kShortSize),
                  shorts + QLatin1Char('/') + file)) {
            return 1;
        }
    }

    const QString iconPath = program.filePath(QStringLiteral("res/icon.ico"));
    if (!WriteFile(iconPath,
                   IconFile({ProgramIcon(16), ProgramIcon(32), ProgramIcon(48), ProgramIcon(256)}))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(iconPath));
        return 1;
    }
    return WriteFile(QString::fromLocal8Bit(argv[3]), QByteArray::number(static_cast<int>(flags.size()))) ? 0
                                                                                                          : 1;
}
