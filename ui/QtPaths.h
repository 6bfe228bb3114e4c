#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace cloakline {

// The program spells paths with "\"; Qt and the system take native ones.
QString NativePathFromProgramPath(std::string_view programPath);
std::string ProgramPathFromNative(const QString& nativePath);

}  // namespace cloakline
