#include "ui/QtMultiLang.h"

namespace cloakline {

namespace {

QStringList ToQt(const TStringList& list) {
    QStringList out;
    for (const std::string& line : list) {
        out.append(QString::fromStdString(line));
    }
    return out;
}

TStringList FromQt(const QStringList& list) {
    TStringList out;
    for (const QString& line : list) {
        out.Add(line.toStdString());
    }
    return out;
}

}  // namespace

QtKTMultiLangData::QtKTMultiLangData(IFileSystem& files, TTextCompare compareSectionNames, QObject* owner)
    : QObject(owner), FData(files, std::move(compareSectionNames)) {}

QString QtKTMultiLangData::CurrentLanguage() {
    return QString::fromStdString(FData.CurrentLanguage());
}

QString QtKTMultiLangData::CurrentLanguageTranslator() {
    return QString::fromStdString(FData.CurrentLanguageTranslator());
}

QString QtKTMultiLangData::CurrentVersion() {
    return QString::fromStdString(FData.CurrentVersion());
}

QStringList QtKTMultiLangData::ExcludeProps() const {
    return ToQt(FData.ExcludeProps());
}

void QtKTMultiLangData::SetExcludeProps(const QStringList& value) {
    FData.SetExcludeProps(FromQt(value));
}

QStringList QtKTMultiLangData::CurrentData() const {
    return ToQt(FData.CurrentData());
}

void QtKTMultiLangData::SetCurrentData(const QStringList& value) {
    FData.SetCurrentData(FromQt(value));
}

QStringList QtKTMultiLangData::DefaultData() const {
    return ToQt(FData.DefaultData());
}

void QtKTMultiLangData::SetDefaultData(const QStringList& value) {
    FData.SetDefaultData(FromQt(value));
}

QtKTMultiLang::QtKTMultiLang(QWidget& form) : QObject(&form), FForm(form), FClient(FForm) {
    FClient.SetOnChangeLanguage([this](TKTMultiLang&) { emit OnChangeLanguage(this); });
}

void QtKTMultiLang::SetLanguageData(QtKTMultiLangData* value) {
    FLanguageData = value;
    FClient.SetLanguageData(value != nullptr ? &value->Data() : nullptr);
}

}  // namespace cloakline
