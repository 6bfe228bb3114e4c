#include "app/FlagPictureList.h"

#include <QPainter>
#include <QPainterPath>

#include "core/support/PathUtils.h"
#include "core/support/TextEncoding.h"
#include "ui/QtPaths.h"

namespace cloakline {

namespace {

constexpr int kFlagSize = 48;

bool HasPngExtension(std::string_view name) {
    constexpr std::string_view ext = ".png";
    return name.size() > ext.size() && SameTextAscii(name.substr(name.size() - ext.size()), ext);
}

}  // namespace

void TFlagPictureList::LoadFlagPNGList(const Platform& system, std::string_view folder) {
    if (!system.Files) {
        return;
    }
    TStringList files;
    system.Files->ListFiles(IncludeTrailingBackslash(folder) + "*", files, true);
    for (const std::string& file : files) {
        const std::string code = ExtractBaseName(file);
        if (!HasPngExtension(file) || !IsPlainFileStem(code)) {
            continue;
        }
        QPixmap picture;
        if (picture.load(NativePathFromProgramPath(file), "PNG")) {
            Add(code, std::move(picture));
        }
    }
}

void TFlagPictureList::Add(std::string name, QPixmap picture) {
    FItems.push_back(Item{std::move(name), std::move(picture)});
}

int TFlagPictureList::GetImageIndex(std::string_view code) const {
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        if (SameTextAscii(FItems[i].Name, code)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QPixmap TFlagPictureList::Placeholder() {
    static const QPixmap picture = [] {
        QPixmap pm(kFlagSize, kFlagSize);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        // A blank pennant on a pole, in greys that sit on light and dark skins alike.
        const QRectF cloth(11.5, 12.5, 28, 19);
        p.setPen(QPen(QColor(120, 128, 138), 1.0));
        p.setBrush(QColor(214, 219, 226));
        p.drawRoundedRect(cloth, 2.5, 2.5);
        p.setPen(QPen(QColor(150, 158, 168), 1.0, Qt::DashLine));
        p.drawLine(QPointF(15.5, 22), QPointF(36, 22));
        p.setPen(QPen(QColor(100, 108, 118), 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 10), QPointF(10, 40));
        return pm;
    }();
    return picture;
}

}  // namespace cloakline
