#pragma once

#include <QObject>
#include <QWidget>

namespace cloakline {

class QtKTMultiLang;
class QtKTMultiLangData;

// What the framework's own dialogs take from the process-wide engine.
class IFormEngine {
  public:
    virtual ~IFormEngine() = default;
    // nullptr when the engine has none.
    virtual QObject* SkinData() const = 0;
    virtual QtKTMultiLangData* LanguageData() const = 0;
    // The program's main window, or nullptr.
    virtual QWidget* MainForm() const = 0;
};

// The engine's side for forms while an engine exists, else nullptr.
IFormEngine* GlobalFormEngine();
void SetGlobalFormEngine(IFormEngine* engine);

// The translation client of one of the program's forms, named "KTMultiLang1"
// and already pointed at the engine's language data when there is an engine.
QtKTMultiLang* CreateFormTranslationClient(QWidget& form);

// A component of the framework's own dialogs: once its form is complete it
// attaches the engine's skin data and language data to the form's components
// and can place the form.
class TKTForm : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool RuntimeSetSkinData READ RuntimeSetSkinData WRITE SetRuntimeSetSkinData)
    Q_PROPERTY(bool RuntimeSetLanguageData READ RuntimeSetLanguageData WRITE SetRuntimeSetLanguageData)
    Q_PROPERTY(bool RunTimeSetFormProperties READ RunTimeSetFormProperties WRITE SetRunTimeSetFormProperties)

  public:
    // A child of the form it serves.
    explicit TKTForm(QWidget& owner);

    bool RuntimeSetSkinData() const { return FRuntimeSetSkinData; }
    void SetRuntimeSetSkinData(bool value) { FRuntimeSetSkinData = value; }
    bool RuntimeSetLanguageData() const { return FRuntimeSetLanguageData; }
    void SetRuntimeSetLanguageData(bool value) { FRuntimeSetLanguageData = value; }
    bool RunTimeSetFormProperties() const { return FRunTimeSetFormProperties; }
    void SetRunTimeSetFormProperties(bool value) { FRunTimeSetFormProperties = value; }

    // Every empty "TspSkinData" property of the form's components gets the engine's skin data.
    void ApplySkinData();
    // Every "TKTMultiLang" of the form without data gets the engine's; nothing is translated.
    void ApplyLanguageData();
    // Qt forms have no scaling, automatic scrolling or automatic sizing to
    // switch off, so this leaves only the position: centred on the main form
    // whenever the form is shown.
    void ApplyFormProperties();
    // The form is complete: applies what the three switches ask for, in their order.
    void Loaded();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget& FForm;
    bool FRuntimeSetSkinData = false;
    bool FRuntimeSetLanguageData = false;
    bool FRunTimeSetFormProperties = false;
    bool FCentre = false;
};

// The loaded notification, which Qt does not send: every translation client
// and TKTForm of the form, in creation order. A form calls it once, at the
// end of its constructor.
void NotifyFormLoaded(QWidget& form);

}  // namespace cloakline
