#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline {

// How a published property holds its value.
enum class TPropertyKind { AnsiText, WideText, UnicodeText, Object };

struct TPropertyInfo {
    std::string Name;
    TPropertyKind Kind = TPropertyKind::UnicodeText;
    // As the language rules know it: "TStrings" for a list of lines,
    // "TComponentName" for a component's name.
    std::string TypeName;
    bool Readable = false;
    bool Writable = false;

    bool IsText() const { return Kind != TPropertyKind::Object; }
};

// A component that has no such property, or refuses to read or write it.
class EPropertyError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A form component seen through its published properties, so that texts can
// be set and collected without knowing its class. Texts are UTF-8. A read or
// write that the component refuses throws (EPropertyError, or whatever the
// component itself raises).
class IReflectedComponent {
  public:
    virtual ~IReflectedComponent() = default;

    virtual std::string Name() const = 0;
    virtual std::string ClassName() const = 0;
    // Shared language data or a translation client, which forms pass over.
    virtual bool IsLanguageComponent() const = 0;
    // The properties of text and object kinds, sorted by name without regard to case.
    virtual std::vector<TPropertyInfo> Properties() const = 0;

    virtual std::string ReadText(std::string_view prop) const = 0;
    virtual void WriteText(std::string_view prop, std::string_view value) = 0;

    // "TStrings": the whole text has CR LF after every line; writing splits it
    // at CR LF, CR or LF.
    virtual std::size_t LineCount(std::string_view prop) const = 0;
    virtual std::string ReadLines(std::string_view prop) const = 0;
    virtual void WriteLines(std::string_view prop, std::string_view text) = 0;

    // Object properties.
    virtual bool HoldsObject(std::string_view prop) const = 0;
    virtual bool IsCollection(std::string_view prop) const = 0;
    virtual std::size_t ItemCount(std::string_view prop) const = 0;
    // The text properties of one item, sorted by name.
    virtual std::vector<TPropertyInfo> ItemProperties(std::string_view prop, std::size_t index) const = 0;
    virtual std::string ReadItemText(std::string_view prop,
                                     std::size_t index,
                                     std::string_view itemProp) const = 0;
    virtual void WriteItemText(std::string_view prop,
                               std::size_t index,
                               std::string_view itemProp,
                               std::string_view value) = 0;
};

// A form: a component that owns others.
class IReflectedForm : public virtual IReflectedComponent {
  public:
    // The components the form owns, in their creation order.
    virtual std::vector<std::unique_ptr<IReflectedComponent>> Components() = 0;
};

}  // namespace cloakline
