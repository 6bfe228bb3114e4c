#include "ui/KTSkinData.h"

#include <QApplication>

#include "core/framework/GlobalPlatform.h"

namespace cloakline {

TKTSkinData::TKTSkinData(QObject* parent) : QObject(parent), FStoredSkin(BuiltInSkin()) {
    FResourceStrings = FStoredSkin.ResourceStrings;
}

TKTSkinData::~TKTSkinData() = default;

TSkinBundle TKTSkinData::BuiltInSkin() {
    return TSkinBundle{};
}

void TKTSkinData::SetStoredSkin(const TSkinBundle& skin) {
    FStoredSkin = skin;
    FResourceStrings = skin.ResourceStrings;
    Apply();
}

bool TKTSkinData::LoadFromCompressedFile(std::string_view path, std::string* error) {
    if (!HasGlobalPlatform() || !GlobalPlatform().Files) {
        if (error != nullptr) {
            *error = "no file system";
        }
        return false;
    }
    const auto bytes = GlobalPlatform().Files->ReadFile(path, kMaxSkinPayload);
    if (!bytes) {
        if (error != nullptr) {
            *error = "cannot read the file";
        }
        return false;
    }
    auto skin = DecodeSkinBundle(*bytes, error);
    if (!skin) {
        return false;
    }
    SetStoredSkin(*skin);
    return true;
}

void TKTSkinData::Apply() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        app->setStyleSheet(QString::fromStdString(FStoredSkin.StyleSheet));
    }
    emit SkinApplied();
}

}  // namespace cloakline
