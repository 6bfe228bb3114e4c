#pragma once

#include "platform/api/FileSystem.h"

namespace cloakline {

class LinuxFileSystem : public IFileSystem {
  public:
    std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes) const override;
    bool ReplaceFile(std::string_view path, std::string_view bytes) override;
    bool WriteTextFile(std::string_view bytes, std::string_view path) override;
    bool FileExists(std::string_view path) const override;
    bool DirectoryExists(std::string_view path) const override;
    bool ForceDirectories(std::string_view path) override;
    bool CheckFileAccess(std::uint32_t accessMask, std::string_view path) const override;
    bool GetFileCreationTime(std::string_view path, TFileTime& time) const override;
    // Only "*" and "?" are wildcards, as on Windows; "*.*" matches every name.
    void ListFiles(std::string_view mask, TStringList& list, bool withFolder) const override;
    std::string GetLongPath(std::string_view path) const override;
    bool MakePrivate(std::string_view path) override;
    bool RemoveFile(std::string_view path) override;
    bool RenameFile(std::string_view from, std::string_view to) override;
};

// Windows file time of a POSIX time: 100 ns units since 1601-01-01 UTC.
TFileTime UnixTimeToFileTime(std::int64_t seconds, std::uint32_t nanoseconds);

}  // namespace cloakline
