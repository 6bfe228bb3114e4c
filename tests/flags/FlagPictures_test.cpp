#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <set>

namespace {

const QDir kProgram(QStringLiteral(CLOAKLINE_PROGRAM_DIR));

// The upper-case codes of the package's two-letter pictures.
QSet<QString> ArtworkCodes() {
    const QRegularExpression codeName(QStringLiteral("^[a-z]{2}\\.png$"));
    QSet<QString> codes;
    for (const QString& name :
         QDir(QStringLiteral(CLOAKLINE_FLAG_ARTWORK_DIR)).entryList({"*.png"}, QDir::Files)) {
        if (codeName.match(name).hasMatch()) {
            codes.insert(name.left(2).toUpper());
        }
    }
    return codes;
}

double MeanAlpha(const QImage& image, const QRect& box) {
    double sum = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            sum += qAlpha(image.pixel(x, y));
        }
    }
    return sum / (box.width() * box.height());
}

// A card with real per-pixel alpha: clear corners and edges, and a middle as opaque
// as the artwork's (its "unknown" flag is translucent by design).
void ExpectCard(const QString& path, int size, const QImage& artwork) {
    SCOPED_TRACE(path.toStdString());
    const QImage image(path);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(size, size));
    ASSERT_TRUE(image.hasAlphaChannel());
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const double middle = MeanAlpha(argb, QRect(size / 2 - 11, size / 2 - 6, 22, 12));
    const double source =
        artwork.isNull()
            ? 255
            : MeanAlpha(artwork, QRect(artwork.width() / 2 - 64, artwork.height() / 2 - 38, 128, 76));
    if (source >= 128) {
        EXPECT_GE(middle, 254.5);
    } else {
        EXPECT_NEAR(middle, source, 15);
    }
    EXPECT_EQ(qAlpha(argb.pixel(size / 2, 0)), 0);
    EXPECT_EQ(qAlpha(argb.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(argb.pixel(size - 1, size - 1)), 0);
}

void ExpectFolder(const QString& folder, int size) {
    const QSet<QString> codes = ArtworkCodes();
    ASSERT_GT(codes.size(), 200);
    const QStringList files = QDir(kProgram.filePath(folder)).entryList(QDir::Files);
    QSet<QString> made;
    for (const QString& file : files) {
        EXPECT_EQ(file, file.toUpper()) << "names are upper case, for the case-sensitive file systems";
        EXPECT_TRUE(file.endsWith(QStringLiteral(".PNG"))) << file.toStdString();
        made.insert(file.chopped(4));
    }
    QSet<QString> expected = codes;
    expected.insert(QStringLiteral("UN"));
    EXPECT_EQ(made, expected);
    for (const QString& code : expected) {
        const QImage artwork(
            QDir(QStringLiteral(CLOAKLINE_FLAG_ARTWORK_DIR)).filePath(code.toLower() + ".png"));
        ExpectCard(kProgram.filePath(folder + QLatin1Char('/') + code + QStringLiteral(".PNG")), size,
                   artwork.convertToFormat(QImage::Format_ARGB32));
    }
}

TEST(FlagPictures, EveryCountryOfTheArtworkHasA48PixelCardFlagAndTheAnyCountryPicture) {
    ExpectFolder(QStringLiteral("res/flags"), 48);
}

TEST(FlagPictures, EveryCountryOfTheArtworkHasAMainWindowFlag) {
    ExpectFolder(QStringLiteral("res/flag_short"), 48);
}

TEST(FlagPictures, FlagsAreTheArtworksOwnColours) {
    // Germany: black, red and gold bands from top to bottom.
    const QImage de =
        QImage(kProgram.filePath(QStringLiteral("res/flags/DE.PNG"))).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(de.isNull());
    const QColor top = de.pixelColor(24, 16);
    const QColor middle = de.pixelColor(24, 24);
    const QColor bottom = de.pixelColor(24, 32);
    EXPECT_LT(top.lightness(), 80);
    EXPECT_GT(middle.red(), 150);
    EXPECT_LT(middle.green(), 90);
    EXPECT_GT(bottom.red(), 180);
    EXPECT_GT(bottom.green(), 150);
    EXPECT_LT(bottom.blue(), 90);
}

TEST(FlagPictures, AnyCountryIsNeitherBlankNorACopyOfAFlag) {
    const QImage un =
        QImage(kProgram.filePath(QStringLiteral("res/flags/UN.PNG"))).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(un.isNull());
    std::set<QRgb> colours;
    for (int y = 12; y < 36; ++y) {
        for (int x = 6; x < 42; ++x) {
            colours.insert(un.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 20u);
    // Mostly blue: the sky behind the globe.
    const QColor centreLeft = un.pixelColor(10, 24);
    EXPECT_GT(centreLeft.blue(), centreLeft.red() + 40);
}

TEST(FlagPictures, IconHasSeveralSizesEachWithAlpha) {
    QImageReader reader(kProgram.filePath(QStringLiteral("res/icon.ico")), "ico");
    ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
    std::set<int> sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull()) << i << " " << reader.errorString().toStdString();
        EXPECT_EQ(image.width(), image.height());
        EXPECT_TRUE(image.hasAlphaChannel());
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(qAlpha(argb.pixel(0, 0)), 0) << "round, so the corners are clear";
        EXPECT_EQ(qAlpha(argb.pixel(image.width() / 2, image.height() / 2)), 255);
        sizes.insert(image.width());
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 256}));
}

}  // namespace
