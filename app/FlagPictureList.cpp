#include "app/FlagPictureList.h"

#include "core/support/PathUtils.h"
#include "core/support/TextEncoding.h"
#include "ui/QtPaths.h"

namespace cloakline {

namespace {

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

}  // namespace cloakline
