#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "core/framework/KTMultiLang.h"
#include "ui/QtComponentReflection.h"

namespace cloakline {

// The shared language data as a component of the main window. Its published
// properties are those of the data it owns.
class QtKTMultiLangData : public QObject {
    Q_OBJECT
    Q_CLASSINFO("ClassName", "TKTMultiLangData")
    Q_PROPERTY(QString CurrentLanguage READ CurrentLanguage)
    Q_PROPERTY(QString CurrentLanguageTranslator READ CurrentLanguageTranslator)
    Q_PROPERTY(QString CurrentVersion READ CurrentVersion)
    Q_PROPERTY(bool ExcludeEmptyProp READ ExcludeEmptyProp WRITE SetExcludeEmptyProp)
    Q_PROPERTY(QStringList ExcludeProps READ ExcludeProps WRITE SetExcludeProps)
    Q_PROPERTY(bool ExcludeNumberEndProps READ ExcludeNumberEndProps WRITE SetExcludeNumberEndProps)
    Q_PROPERTY(bool AutoApply READ AutoApply WRITE SetAutoApply)
    Q_PROPERTY(bool ExcludeWithAction READ ExcludeWithAction WRITE SetExcludeWithAction)
    Q_PROPERTY(QStringList CurrentData READ CurrentData WRITE SetCurrentData)
    Q_PROPERTY(QStringList DefaultData READ DefaultData WRITE SetDefaultData)

  public:
    // files must outlive the data.
    QtKTMultiLangData(IFileSystem& files, TTextCompare compareSectionNames, QObject* owner);

    TKTMultiLangData& Data() { return FData; }

    QString CurrentLanguage();
    QString CurrentLanguageTranslator();
    QString CurrentVersion();
    bool ExcludeEmptyProp() const { return FData.ExcludeEmptyProp(); }
    void SetExcludeEmptyProp(bool value) { FData.SetExcludeEmptyProp(value); }
    QStringList ExcludeProps() const;
    void SetExcludeProps(const QStringList& value);
    bool ExcludeNumberEndProps() const { return FData.ExcludeNumberEndProps(); }
    void SetExcludeNumberEndProps(bool value) { FData.SetExcludeNumberEndProps(value); }
    bool AutoApply() const { return FData.AutoApply(); }
    void SetAutoApply(bool value) { FData.SetAutoApply(value); }
    bool ExcludeWithAction() const { return FData.ExcludeWithAction(); }
    void SetExcludeWithAction(bool value) { FData.SetExcludeWithAction(value); }
    QStringList CurrentData() const;
    void SetCurrentData(const QStringList& value);
    QStringList DefaultData() const;
    void SetDefaultData(const QStringList& value);

  private:
    TKTMultiLangData FData;
};

// The translation client of one form: a child of the form it translates.
// Qt tells components nothing when their form is complete, so the form calls
// NotifyFormLoaded (KTForm.h) at the end of its constructor, which calls Loaded.
class QtKTMultiLang : public QObject {
    Q_OBJECT
    Q_CLASSINFO("ClassName", "TKTMultiLang")
    Q_PROPERTY(cloakline::QtKTMultiLangData* LanguageData READ LanguageData WRITE SetLanguageData)

  public:
    explicit QtKTMultiLang(QWidget& form);

    QtKTMultiLangData* LanguageData() const { return FLanguageData; }
    // Moves the registration to the new data; translates nothing.
    void SetLanguageData(QtKTMultiLangData* value);
    TKTMultiLang& Client() { return FClient; }
    // Registers with the data and, when it applies automatically, translates the form.
    void Loaded() { FClient.Loaded(); }

  signals:
    // After every translation of the form.
    void OnChangeLanguage(cloakline::QtKTMultiLang* sender);

  private:
    QPointer<QtKTMultiLangData> FLanguageData;
    QtReflectedForm FForm;
    TKTMultiLang FClient;
};

}  // namespace cloakline
