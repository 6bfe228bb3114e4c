#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/api/Platform.h"

namespace cloakline {

// The program's own place, system folders and other programs, over the
// platform's services. Paths in program form.

std::string GetExeName(const Platform& platform);

// An installed copy keeps its shipped files apart from the program file, the
// way Linux systems lay programs out: /usr/bin/cloakline with its files in
// /usr/share/cloakline/ and its helper in /usr/libexec/cloakline/.
inline constexpr std::string_view kShippedMarkerFile = "const.dat";
inline constexpr std::string_view kInstalledDataFolder = "..\\share\\cloakline";
inline constexpr std::string_view kGuardProgram = "cloakline-guard";
inline constexpr std::string_view kInstalledHelperFolder = "..\\libexec\\cloakline";

// The folder, ending with "\", that holds file: the program's own folder (in
// its long form) when file is there, as in a build tree or a portable copy;
// else installedFolder taken relative to it when file is there; else the
// program's own folder.
std::string FindShippedFolder(const Platform& platform,
                              std::string_view file,
                              std::string_view installedFolder);
// The folder of the files that ship with the program (constants, languages,
// skins, pictures, the panel), ending with "\".
std::string GetAppPath(const Platform& platform);
// The guard program's full path, found the same way.
std::string GetGuardProgram(const Platform& platform);
// GetAppPath without the trailing "\".
std::string GetAppDir(const Platform& platform);
std::string GetTempDir(const Platform& platform);

// folder + prefix + random hexadecimal + "." + extension, for a path where
// nothing exists yet. The file is not created.
std::string GetUniqueFileName(const Platform& platform,
                              std::string_view folder,
                              std::string_view prefix,
                              std::string_view extension);

// The name of the per-user autostart entry, from the installation's fixed
// identity ("App.GUID"), never from a text the server may push: "Cloakline-"
// and the identity's letters, digits and "-" (braces and the rest dropped);
// "Cloakline" alone for an installation without one.
std::string AutoRunEntryName(std::string_view installationId);

// An empty path makes params the whole command line. Otherwise path is
// resolved against the program's folder and started in its own folder.
bool RunProgram(Platform& platform,
                std::string_view path,
                std::string_view params,
                bool hideAndWait,
                std::uint32_t timeoutMs);

// Files (not folders) in folder matching mask, each appended as folder + name.
void FindFiles(const Platform& platform, std::string_view folder, TStringList& list, std::string_view mask);

// 100-nanosecond intervals since 1601 to days since 1899-12-30, staying in UTC.
TDateTime FileTimeToDateTime(TFileTime time);

}  // namespace cloakline
