#pragma once

#include <QMetaObject>
#include <QObject>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/framework/ComponentReflection.h"

namespace cloakline {

// How translation sees a Qt object.
//
// Class name: the "ClassName" class info that the object's own class declares,
// else the C++ class name without its namespace, so that a form class
// cloakline::TfrmSettings is "TfrmSettings" and a QPushButton "QPushButton".
//
// Components of a form: its descendants in creation order (depth first, each
// child after its parent, siblings in the order Qt keeps them: the order they
// were given their parent, except that a widget Qt raises moves to the end
// and one it lowers to the front), without the parts Qt builds inside its
// widgets (names that begin with "qt_" or "_", and a tab bar's scroll
// buttons) and without other forms below it and their contents: windows,
// and widgets placed inside the form that carry a translation client of their
// own. Popups such as menus belong to the form.
//
// Published properties: every Q_PROPERTY of the class and its bases whose type
// is one of
//   QString      Unicode text, declared type "QString";
//                objectName is declared "TComponentName";
//   QByteArray   8-bit text in the ANSI code page, declared "QByteArray";
//   QStringList  a list of lines, declared "TStrings";
//   a pointer to a QObject class   object, declared by that class's name.
// Qt's names are kept, except where the language files use the established
// names (a class that declares a property of that name itself keeps its own):
//   Caption  a form's windowTitle; a tab page's text on its tab widget;
//            the text of a button, label or action; the title of a group box or menu;
//   Hint     toolTip;
//   Columns  of a QTreeWidget or QTableWidget: a collection of the header's
//            columns, each with the text property Caption;
//   Action   of a QToolButton: its default action, declared "TBasicAction".
// A property that takes the established name no longer appears under Qt's name.

std::string ReflectedClassName(const QMetaObject& meta);
std::string ReflectedClassName(const QObject& object);

// A window of its own, such as a dialog; menus and other popups are not.
bool IsFormWindow(const QObject& object);

std::vector<QObject*> FormComponents(QWidget& form);

class QtReflectedComponent : public virtual IReflectedComponent {
  public:
    // object must outlive this view of it.
    explicit QtReflectedComponent(QObject& object);

    QObject& Object() const { return FObject; }

    std::string Name() const override;
    std::string ClassName() const override;
    bool IsLanguageComponent() const override;
    std::vector<TPropertyInfo> Properties() const override;

    std::string ReadText(std::string_view prop) const override;
    void WriteText(std::string_view prop, std::string_view value) override;

    std::size_t LineCount(std::string_view prop) const override;
    std::string ReadLines(std::string_view prop) const override;
    void WriteLines(std::string_view prop, std::string_view text) override;

    bool HoldsObject(std::string_view prop) const override;
    bool IsCollection(std::string_view prop) const override;
    std::size_t ItemCount(std::string_view prop) const override;
    std::vector<TPropertyInfo> ItemProperties(std::string_view prop, std::size_t index) const override;
    std::string ReadItemText(std::string_view prop,
                             std::size_t index,
                             std::string_view itemProp) const override;
    void WriteItemText(std::string_view prop,
                       std::size_t index,
                       std::string_view itemProp,
                       std::string_view value) override;

    // The object an object property holds, or nullptr.
    QObject* ReadObject(std::string_view prop) const;
    // Throws EPropertyError when the property cannot hold that object.
    void WriteObject(std::string_view prop, QObject* value);

  private:
    struct Entry;
    std::vector<Entry> Entries() const;
    Entry Find(std::string_view prop) const;
    QVariant ReadMeta(const Entry& entry) const;
    void WriteMeta(const Entry& entry, const QVariant& value);

    QObject& FObject;
};

class QtReflectedForm : public QtReflectedComponent, public IReflectedForm {
  public:
    explicit QtReflectedForm(QWidget& form);
    std::vector<std::unique_ptr<IReflectedComponent>> Components() override;

  private:
    QWidget& FForm;
};

}  // namespace cloakline
