#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/support/TextEncoding.h"

namespace cloakline {

// Creates a translatable form for the language harvest, owned by the main
// window as in the program (so it finds the engine and the window it expects).
// nullptr when the form's services (the process-wide platform and settings)
// are not there.
using TFormFactory = std::function<std::unique_ptr<QWidget>(QWidget& mainForm)>;

struct TTranslatableForm {
    std::string ClassName;
    TFormFactory Create;
};

// The forms besides the main window that carry translatable texts, in
// registration order. A form's unit registers it with a TFormRegistration at
// namespace scope; the harvest links what the program links, so every form
// the program can show is listed.
const std::vector<TTranslatableForm>& TranslatableForms();

class TFormRegistration {
  public:
    TFormRegistration(std::string className, TFormFactory factory);
};

// The order of form sections in saved language files: the user's collation,
// where the platform has one.
TTextCompare UserSectionCollation();
// The same collation in one fixed locale, for files that must come out the
// same on every machine.
TTextCompare FixedSectionCollation();

}  // namespace cloakline
