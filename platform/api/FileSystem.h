#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/support/StringList.h"
#include "core/support/Types.h"

namespace cloakline {

// Files and folders. Paths are in the program's form ("\" separators); the
// backend turns them into native paths. No call raises or shows anything.
class IFileSystem {
  public:
    virtual ~IFileSystem() = default;

    // The whole file, or nullopt when it cannot be read or is larger than maxBytes.
    virtual std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes) const = 0;
    // Replaces the file so that a crash or a full disk never leaves it half
    // written: the old content stays until the new one is complete on disk.
    virtual bool ReplaceFile(std::string_view path, std::string_view bytes) = 0;
    // Creates or truncates the file and writes the bytes; false when it cannot be created.
    virtual bool WriteTextFile(std::string_view bytes, std::string_view path) = 0;
    // Removes the file (not a folder); true when no file of that path is left.
    virtual bool RemoveFile(std::string_view path) = 0;
    // Moves the file to a new name in the same folder, replacing a file of
    // that name, in one step that a crash does not split.
    virtual bool RenameFile(std::string_view from, std::string_view to) = 0;
    // A file or a folder of that path exists.
    virtual bool FileExists(std::string_view path) const = 0;
    virtual bool DirectoryExists(std::string_view path) const = 0;
    // Creates the folder with all missing parents; true when it exists afterwards.
    virtual bool ForceDirectories(std::string_view path) = 0;
    // accessMask is a Windows access mask; GENERIC_WRITE asks whether the
    // effective user may write to the file or folder.
    virtual bool CheckFileAccess(std::uint32_t accessMask, std::string_view path) const = 0;
    // Creation (birth) time; false where the file system keeps none.
    virtual bool GetFileCreationTime(std::string_view path, TFileTime& time) const = 0;
    // Files matching a wildcard mask ("\app\skins\*.skn"), folders excluded,
    // in the file system's order; with withFolder the folder part of the mask is prepended.
    virtual void ListFiles(std::string_view mask, TStringList& list, bool withFolder) const = 0;
    // The long form of the path; the path unchanged where the system knows no other form.
    virtual std::string GetLongPath(std::string_view path) const = 0;
    // Makes an existing file or folder of ours the current user's alone
    // (POSIX: 0600 for a file, 0700 for a folder); a link is left alone and
    // counts as a failure. True where the system has nothing to change (the
    // per-user folders of Windows are private already).
    virtual bool MakePrivate(std::string_view /*path*/) { return true; }
};

inline constexpr std::uint32_t GENERIC_READ_ACCESS = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE_ACCESS = 0x40000000u;

}  // namespace cloakline
