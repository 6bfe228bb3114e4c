#pragma once

#include "platform/api/FileSystem.h"

namespace cloakline {

class Win32FileSystem : public IFileSystem {
  public:
    std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes) const override;
    // Written beside the file, flushed and then moved over it.
    bool ReplaceFile(std::string_view path, std::string_view bytes) override;
    bool WriteTextFile(std::string_view bytes, std::string_view path) override;
    bool RemoveFile(std::string_view path) override;
    bool RenameFile(std::string_view from, std::string_view to) override;
    bool FileExists(std::string_view path) const override;
    bool DirectoryExists(std::string_view path) const override;
    bool ForceDirectories(std::string_view path) override;
    // The system's access check of this process's token against the path's
    // security descriptor, with the generic file rights mapped.
    bool CheckFileAccess(std::uint32_t accessMask, std::string_view path) const override;
    bool GetFileCreationTime(std::string_view path, TFileTime& time) const override;
    void ListFiles(std::string_view mask, TStringList& list, bool withFolder) const override;
    std::string GetLongPath(std::string_view path) const override;
};

}  // namespace cloakline
