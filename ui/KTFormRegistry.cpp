#include "ui/KTFormRegistry.h"

#ifdef Q_OS_LINUX
#include "platform/linux/LinuxTextCollation.h"
#endif

namespace cloakline {

namespace {

// Built on first use: registrations run while other units are still being initialised.
std::vector<TTranslatableForm>& Forms() {
    static std::vector<TTranslatableForm> forms;
    return forms;
}

}  // namespace

const std::vector<TTranslatableForm>& TranslatableForms() {
    return Forms();
}

TFormRegistration::TFormRegistration(std::string className, TFormFactory factory) {
    Forms().push_back({std::move(className), std::move(factory)});
}

TTextCompare UserSectionCollation() {
#ifdef Q_OS_LINUX
    return LinuxTextCollation();
#else
    return CompareTextAscii;
#endif
}

TTextCompare FixedSectionCollation() {
#ifdef Q_OS_LINUX
    return LinuxTextCollation([](const char*) -> const char* { return "C.UTF-8"; });
#else
    return CompareTextAscii;
#endif
}

}  // namespace cloakline
