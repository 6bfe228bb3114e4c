#pragma once

#include <QObject>
#include <string>
#include <string_view>

#include "core/support/StringList.h"
#include "ui/KTSkinFile.h"

namespace cloakline {

// The skin in use: a style sheet over the whole application and the skin's
// resource strings. Main thread only.
class TKTSkinData : public QObject {
    Q_OBJECT

  public:
    explicit TKTSkinData(QObject* parent = nullptr);
    ~TKTSkinData() override;

    // The built-in "Default" skin: the platform's own look.
    static TSkinBundle BuiltInSkin();

    const TSkinBundle& StoredSkin() const { return FStoredSkin; }
    // Takes the skin, resets the resource strings to its own and applies it.
    void SetStoredSkin(const TSkinBundle& skin);
    void ClearStoredSkin() { SetStoredSkin(TSkinBundle{}); }
    // False (with the reason in error) when the file cannot be read or is not
    // an intact skin; the skin in use then stays.
    bool LoadFromCompressedFile(std::string_view path, std::string* error = nullptr);

    // The skin draws the window frame too (".skn"); false leaves the frame to
    // the system (".nsf.skn").
    bool SkinnableForm() const { return FSkinnableForm; }
    void SetSkinnableForm(bool value) { FSkinnableForm = value; }

    // The skin's strings, and those merged into them from elsewhere (the
    // language's "SkinRes" section).
    TStringList& ResourceStrings() { return FResourceStrings; }
    const TStringList& ResourceStrings() const { return FResourceStrings; }

    bool ShowButtonGlowFrames() const { return FShowButtonGlowFrames; }
    void SetShowButtonGlowFrames(bool value) { FShowButtonGlowFrames = value; }
    bool ShowCaptionButtonGlowFrames() const { return FShowCaptionButtonGlowFrames; }
    void SetShowCaptionButtonGlowFrames(bool value) { FShowCaptionButtonGlowFrames = value; }

  signals:
    void SkinApplied();

  private:
    void Apply();

    TSkinBundle FStoredSkin;
    TStringList FResourceStrings;
    bool FSkinnableForm = true;
    bool FShowButtonGlowFrames = true;
    bool FShowCaptionButtonGlowFrames = true;
};

}  // namespace cloakline
