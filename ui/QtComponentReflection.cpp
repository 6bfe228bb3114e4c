#include "ui/QtComponentReflection.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMetaClassInfo>
#include <QMetaProperty>
#include <QStackedWidget>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVariant>
#include <algorithm>
#include <optional>

#include "core/support/StringList.h"
#include "core/support/TextEncoding.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

namespace {

constexpr const char* kClassNameInfo = "ClassName";
constexpr std::string_view kCaption = "Caption";
constexpr std::string_view kHint = "Hint";
constexpr std::string_view kColumns = "Columns";
constexpr std::string_view kAction = "Action";

QString ToQt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text) {
    return text.toStdString();
}

[[noreturn]] void Refuse(std::string_view prop, const char* why) {
    std::string message(prop);
    message.append(": ").append(why);
    throw EPropertyError(message);
}

// The tab widget that shows the widget as one of its pages, or nullptr.
QTabWidget* TabWidgetOf(QObject& object) {
    auto* page = qobject_cast<QWidget*>(&object);
    if (page == nullptr || qobject_cast<QStackedWidget*>(page->parentWidget()) == nullptr) {
        return nullptr;
    }
    auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget());
    return tabs != nullptr && tabs->indexOf(page) >= 0 ? tabs : nullptr;
}

// The Qt property that the language files call Caption, or nullptr.
const char* CaptionSource(QObject& object) {
    if (IsFormWindow(object)) {
        return "windowTitle";
    }
    if (TabWidgetOf(object) != nullptr) {
        return nullptr;  // the tab's text, not a property of the page
    }
    if (qobject_cast<QAbstractButton*>(&object) != nullptr || qobject_cast<QLabel*>(&object) != nullptr ||
        qobject_cast<QAction*>(&object) != nullptr) {
        return "text";
    }
    if (qobject_cast<QGroupBox*>(&object) != nullptr || qobject_cast<QMenu*>(&object) != nullptr) {
        return "title";
    }
    return nullptr;
}

std::optional<TPropertyInfo> Describe(const QMetaProperty& meta) {
    TPropertyInfo info;
    info.Name = meta.name();
    info.Readable = meta.isReadable();
    info.Writable = meta.isWritable();
    const QMetaType type = meta.metaType();
    if (type.id() == QMetaType::QString) {
        info.Kind = TPropertyKind::UnicodeText;
        info.TypeName = info.Name == "objectName" ? "TComponentName" : "QString";
    } else if (type.id() == QMetaType::QByteArray) {
        info.Kind = TPropertyKind::AnsiText;
        info.TypeName = "QByteArray";
    } else if (type.id() == QMetaType::QStringList) {
        info.Kind = TPropertyKind::Object;
        info.TypeName = "TStrings";
    } else if ((type.flags() & QMetaType::PointerToQObject) && type.metaObject() != nullptr) {
        info.Kind = TPropertyKind::Object;
        info.TypeName = ReflectedClassName(*type.metaObject());
    } else {
        return std::nullopt;
    }
    return info;
}

// Qt names the parts it builds inside its widgets "qt_...", "_..." or "__qt__...".
bool IsQtInternal(const QObject& object) {
    const QString name = object.objectName();
    return name.startsWith(QLatin1String("qt_")) || name.startsWith(QLatin1Char('_'));
}

bool HoldsOwnClient(const QObject& object) {
    if (!object.isWidgetType()) {
        return false;
    }
    for (const QObject* child : object.children()) {
        if (qobject_cast<const QtKTMultiLang*>(child) != nullptr) {
            return true;
        }
    }
    return false;
}

void CollectComponents(QObject& parent, std::vector<QObject*>& out) {
    // A tab bar's children are its own scroll buttons, named without a prefix.
    if (qobject_cast<QTabBar*>(&parent) != nullptr) {
        return;
    }
    for (QObject* child : parent.children()) {
        // Another form has a client of its own, also one placed inside this
        // form (the main window's status panel).
        if (IsFormWindow(*child) || HoldsOwnClient(*child)) {
            continue;
        }
        if (!IsQtInternal(*child)) {
            out.push_back(child);
        }
        // Internal parts can hold the program's own widgets, as a tab widget's pages.
        CollectComponents(*child, out);
    }
}

QObject* PointerIn(const QVariant& value) {
    if (!(value.metaType().flags() & QMetaType::PointerToQObject)) {
        return nullptr;
    }
    return *static_cast<QObject* const*>(value.constData());
}

}  // namespace

std::string ReflectedClassName(const QMetaObject& meta) {
    const int info = meta.indexOfClassInfo(kClassNameInfo);
    // Only the class's own declaration counts, not one inherited from a base.
    if (info >= meta.classInfoOffset()) {
        return meta.classInfo(info).value();
    }
    const std::string_view name = meta.className();
    const std::size_t scope = name.rfind("::");
    return std::string(scope == std::string_view::npos ? name : name.substr(scope + 2));
}

std::string ReflectedClassName(const QObject& object) {
    return ReflectedClassName(*object.metaObject());
}

bool IsFormWindow(const QObject& object) {
    const auto* widget = qobject_cast<const QWidget*>(&object);
    if (widget == nullptr || !widget->isWindow()) {
        return false;
    }
    const Qt::WindowType type = widget->windowType();
    return type != Qt::Popup && type != Qt::ToolTip;
}

std::vector<QObject*> FormComponents(QWidget& form) {
    std::vector<QObject*> out;
    CollectComponents(form, out);
    return out;
}

// ---------------------------------------------------------------- QtReflectedComponent

enum class Source { Meta, TabText, Columns, DefaultAction };

struct QtReflectedComponent::Entry {
    TPropertyInfo Info;
    Source From = Source::Meta;
    QMetaProperty Meta;
};

QtReflectedComponent::QtReflectedComponent(QObject& object) : FObject(object) {}

std::string QtReflectedComponent::Name() const {
    return FromQt(FObject.objectName());
}

std::string QtReflectedComponent::ClassName() const {
    return ReflectedClassName(FObject);
}

bool QtReflectedComponent::IsLanguageComponent() const {
    return qobject_cast<QtKTMultiLang*>(&FObject) != nullptr ||
           qobject_cast<QtKTMultiLangData*>(&FObject) != nullptr;
}

std::vector<QtReflectedComponent::Entry> QtReflectedComponent::Entries() const {
    const QMetaObject& meta = *FObject.metaObject();
    const bool ownCaption = meta.indexOfProperty(kCaption.data()) >= 0;
    const bool ownHint = meta.indexOfProperty(kHint.data()) >= 0;
    const char* captionSource = ownCaption ? nullptr : CaptionSource(FObject);

    std::vector<Entry> entries;
    for (int i = 0; i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        std::optional<TPropertyInfo> info = Describe(property);
        if (!info) {
            continue;
        }
        if (captionSource != nullptr && info->Name == captionSource) {
            info->Name = kCaption;
        } else if (!ownHint && info->Name == "toolTip") {
            info->Name = kHint;
        }
        entries.push_back({std::move(*info), Source::Meta, property});
    }
    if (!ownCaption && TabWidgetOf(FObject) != nullptr) {
        entries.push_back({{std::string(kCaption), TPropertyKind::UnicodeText, "QString", true, true},
                           Source::TabText,
                           {}});
    }
    if (meta.indexOfProperty(kColumns.data()) < 0 && (qobject_cast<QTreeWidget*>(&FObject) != nullptr ||
                                                      qobject_cast<QTableWidget*>(&FObject) != nullptr)) {
        entries.push_back({{std::string(kColumns), TPropertyKind::Object, "TListColumns", true, true},
                           Source::Columns,
                           {}});
    }
    if (meta.indexOfProperty(kAction.data()) < 0 && qobject_cast<QToolButton*>(&FObject) != nullptr) {
        entries.push_back({{std::string(kAction), TPropertyKind::Object, "TBasicAction", true, true},
                           Source::DefaultAction,
                           {}});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return CompareTextAscii(a.Info.Name, b.Info.Name) < 0;
    });
    return entries;
}

QtReflectedComponent::Entry QtReflectedComponent::Find(std::string_view prop) const {
    for (Entry& entry : Entries()) {
        if (SameTextAscii(entry.Info.Name, prop)) {
            return std::move(entry);
        }
    }
    Refuse(prop, "no such property");
}

std::vector<TPropertyInfo> QtReflectedComponent::Properties() const {
    std::vector<TPropertyInfo> out;
    for (Entry& entry : Entries()) {
        out.push_back(std::move(entry.Info));
    }
    return out;
}

QVariant QtReflectedComponent::ReadMeta(const Entry& entry) const {
    if (entry.From != Source::Meta || !entry.Info.Readable) {
        Refuse(entry.Info.Name, "cannot be read");
    }
    QVariant value = entry.Meta.read(&FObject);
    if (!value.isValid()) {
        Refuse(entry.Info.Name, "cannot be read");
    }
    return value;
}

void QtReflectedComponent::WriteMeta(const Entry& entry, const QVariant& value) {
    if (entry.From != Source::Meta || !entry.Info.Writable || !entry.Meta.write(&FObject, value)) {
        Refuse(entry.Info.Name, "cannot be written");
    }
}

std::string QtReflectedComponent::ReadText(std::string_view prop) const {
    const Entry entry = Find(prop);
    if (!entry.Info.IsText()) {
        Refuse(prop, "is not a text");
    }
    if (entry.From == Source::TabText) {
        QTabWidget* tabs = TabWidgetOf(FObject);
        return FromQt(tabs->tabText(tabs->indexOf(qobject_cast<QWidget*>(&FObject))));
    }
    const QVariant value = ReadMeta(entry);
    if (entry.Info.Kind == TPropertyKind::AnsiText) {
        const QByteArray bytes = value.toByteArray();
        return AnsiToUtf8(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    }
    return FromQt(value.toString());
}

void QtReflectedComponent::WriteText(std::string_view prop, std::string_view value) {
    const Entry entry = Find(prop);
    if (!entry.Info.IsText()) {
        Refuse(prop, "is not a text");
    }
    if (entry.From == Source::TabText) {
        QTabWidget* tabs = TabWidgetOf(FObject);
        tabs->setTabText(tabs->indexOf(qobject_cast<QWidget*>(&FObject)), ToQt(value));
        return;
    }
    if (entry.Info.Kind == TPropertyKind::AnsiText) {
        const std::string bytes = Utf8ToAnsi(value);
        WriteMeta(entry, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    } else {
        WriteMeta(entry, ToQt(value));
    }
}

std::size_t QtReflectedComponent::LineCount(std::string_view prop) const {
    const Entry entry = Find(prop);
    if (entry.Info.TypeName != "TStrings") {
        Refuse(prop, "is not a list of lines");
    }
    return static_cast<std::size_t>(ReadMeta(entry).toStringList().size());
}

std::string QtReflectedComponent::ReadLines(std::string_view prop) const {
    const Entry entry = Find(prop);
    if (entry.Info.TypeName != "TStrings") {
        Refuse(prop, "is not a list of lines");
    }
    std::string text;
    for (const QString& line : ReadMeta(entry).toStringList()) {
        text.append(FromQt(line)).append("\r\n");
    }
    return text;
}

void QtReflectedComponent::WriteLines(std::string_view prop, std::string_view text) {
    const Entry entry = Find(prop);
    if (entry.Info.TypeName != "TStrings") {
        Refuse(prop, "is not a list of lines");
    }
    TStringList split;
    split.SetText(text);
    QStringList lines;
    for (const std::string& line : split) {
        lines.append(ToQt(line));
    }
    WriteMeta(entry, lines);
}

QObject* QtReflectedComponent::ReadObject(std::string_view prop) const {
    const Entry entry = Find(prop);
    if (entry.From == Source::DefaultAction) {
        return static_cast<QToolButton&>(FObject).defaultAction();
    }
    if (entry.From != Source::Meta || !(entry.Meta.metaType().flags() & QMetaType::PointerToQObject)) {
        Refuse(prop, "does not hold an object");
    }
    return PointerIn(ReadMeta(entry));
}

void QtReflectedComponent::WriteObject(std::string_view prop, QObject* value) {
    const Entry entry = Find(prop);
    if (entry.From == Source::DefaultAction) {
        auto* action = qobject_cast<QAction*>(value);
        if (value != nullptr && action == nullptr) {
            Refuse(prop, "takes an action");
        }
        static_cast<QToolButton&>(FObject).setDefaultAction(action);
        return;
    }
    const QMetaType type = entry.Meta.metaType();
    if (entry.From != Source::Meta || !(type.flags() & QMetaType::PointerToQObject)) {
        Refuse(prop, "does not hold an object");
    }
    if (value != nullptr && !value->metaObject()->inherits(type.metaObject())) {
        Refuse(prop, "cannot hold an object of that class");
    }
    WriteMeta(entry, QVariant(type, &value));
}

bool QtReflectedComponent::HoldsObject(std::string_view prop) const {
    const Entry entry = Find(prop);
    if (entry.From == Source::Columns) {
        return true;
    }
    if (entry.Info.TypeName == "TStrings") {
        return false;
    }
    return ReadObject(prop) != nullptr;
}

bool QtReflectedComponent::IsCollection(std::string_view prop) const {
    return Find(prop).From == Source::Columns;
}

std::size_t QtReflectedComponent::ItemCount(std::string_view prop) const {
    if (!IsCollection(prop)) {
        Refuse(prop, "is not a collection");
    }
    if (auto* tree = qobject_cast<QTreeWidget*>(&FObject)) {
        return static_cast<std::size_t>(tree->columnCount());
    }
    return static_cast<std::size_t>(static_cast<QTableWidget&>(FObject).columnCount());
}

std::vector<TPropertyInfo> QtReflectedComponent::ItemProperties(std::string_view prop,
                                                                std::size_t index) const {
    if (index >= ItemCount(prop)) {
        Refuse(prop, "has no such item");
    }
    return {{std::string(kCaption), TPropertyKind::UnicodeText, "QString", true, true}};
}

std::string QtReflectedComponent::ReadItemText(std::string_view prop,
                                               std::size_t index,
                                               std::string_view itemProp) const {
    if (index >= ItemCount(prop) || !SameTextAscii(itemProp, kCaption)) {
        Refuse(prop, "has no such item property");
    }
    const int column = static_cast<int>(index);
    if (auto* tree = qobject_cast<QTreeWidget*>(&FObject)) {
        return FromQt(tree->headerItem()->text(column));
    }
    const QTableWidgetItem* item = static_cast<QTableWidget&>(FObject).horizontalHeaderItem(column);
    return item != nullptr ? FromQt(item->text()) : std::string();
}

void QtReflectedComponent::WriteItemText(std::string_view prop,
                                         std::size_t index,
                                         std::string_view itemProp,
                                         std::string_view value) {
    if (index >= ItemCount(prop) || !SameTextAscii(itemProp, kCaption)) {
        Refuse(prop, "has no such item property");
    }
    const int column = static_cast<int>(index);
    if (auto* tree = qobject_cast<QTreeWidget*>(&FObject)) {
        tree->headerItem()->setText(column, ToQt(value));
        return;
    }
    auto& table = static_cast<QTableWidget&>(FObject);
    if (QTableWidgetItem* item = table.horizontalHeaderItem(column)) {
        item->setText(ToQt(value));
    } else {
        table.setHorizontalHeaderItem(column, new QTableWidgetItem(ToQt(value)));
    }
}

// ---------------------------------------------------------------- QtReflectedForm

QtReflectedForm::QtReflectedForm(QWidget& form) : QtReflectedComponent(form), FForm(form) {}

std::vector<std::unique_ptr<IReflectedComponent>> QtReflectedForm::Components() {
    std::vector<std::unique_ptr<IReflectedComponent>> out;
    for (QObject* object : FormComponents(FForm)) {
        out.push_back(std::make_unique<QtReflectedComponent>(*object));
    }
    return out;
}

}  // namespace cloakline
