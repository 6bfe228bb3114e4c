#include "ui/KTForm.h"

#include <QEvent>
#include <exception>

#include "core/support/TextEncoding.h"
#include "ui/QtComponentReflection.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

namespace {
IFormEngine* gFormEngine = nullptr;
}

IFormEngine* GlobalFormEngine() {
    return gFormEngine;
}

void SetGlobalFormEngine(IFormEngine* engine) {
    gFormEngine = engine;
}

TKTForm::TKTForm(QWidget& owner) : QObject(&owner), FForm(owner) {}

void TKTForm::ApplySkinData() {
    const IFormEngine* engine = GlobalFormEngine();
    QObject* skin = engine != nullptr ? engine->SkinData() : nullptr;
    if (skin == nullptr) {
        return;
    }
    for (QObject* object : FormComponents(FForm)) {
        QtReflectedComponent component(*object);
        for (const TPropertyInfo& prop : component.Properties()) {
            if (prop.Kind != TPropertyKind::Object || !SameTextAscii(prop.TypeName, "TspSkinData")) {
                continue;
            }
            // A property this skin data does not fit is left as it is.
            try {
                if (component.ReadObject(prop.Name) == nullptr) {
                    component.WriteObject(prop.Name, skin);
                }
            } catch (const std::exception&) {
            }
        }
    }
}

void TKTForm::ApplyLanguageData() {
    const IFormEngine* engine = GlobalFormEngine();
    QtKTMultiLangData* data = engine != nullptr ? engine->LanguageData() : nullptr;
    if (data == nullptr) {
        return;
    }
    for (QObject* object : FormComponents(FForm)) {
        auto* client = qobject_cast<QtKTMultiLang*>(object);
        if (client != nullptr && ReflectedClassName(*object) == "TKTMultiLang" &&
            client->LanguageData() == nullptr) {
            client->SetLanguageData(data);
        }
    }
}

void TKTForm::ApplyFormProperties() {
    if (IsFormWindow(FForm) && !FCentre) {
        FCentre = true;
        FForm.installEventFilter(this);
    }
}

void TKTForm::Loaded() {
    if (FRuntimeSetSkinData) {
        ApplySkinData();
    }
    if (FRuntimeSetLanguageData) {
        ApplyLanguageData();
    }
    if (FRunTimeSetFormProperties) {
        ApplyFormProperties();
    }
}

bool TKTForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &FForm && event->type() == QEvent::Show) {
        const IFormEngine* engine = GlobalFormEngine();
        QWidget* main = engine != nullptr ? engine->MainForm() : nullptr;
        if (main != nullptr && main != &FForm) {
            QRect frame = FForm.frameGeometry();
            frame.moveCenter(main->frameGeometry().center());
            FForm.move(frame.topLeft());
        }
    }
    return QObject::eventFilter(watched, event);
}

void NotifyFormLoaded(QWidget& form) {
    for (QObject* object : FormComponents(form)) {
        if (auto* client = qobject_cast<QtKTMultiLang*>(object)) {
            client->Loaded();
        } else if (auto* kt = qobject_cast<TKTForm*>(object)) {
            kt->Loaded();
        }
    }
}

QtKTMultiLang* CreateFormTranslationClient(QWidget& form) {
    auto* client = new QtKTMultiLang(form);
    client->setObjectName(QStringLiteral("KTMultiLang1"));
    if (const IFormEngine* engine = GlobalFormEngine()) {
        client->SetLanguageData(engine->LanguageData());
    }
    return client;
}

}  // namespace cloakline
