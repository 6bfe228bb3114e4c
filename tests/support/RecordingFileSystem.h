#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/api/FileSystem.h"

namespace cloakline::test {

// Passes every call to a real file system, counting the writes and letting a
// test make saves or access checks fail.
class RecordingFileSystem : public IFileSystem {
  public:
    explicit RecordingFileSystem(std::unique_ptr<IFileSystem> real) : FReal(std::move(real)) {}

    std::map<std::string, int> Replacements;                     // path -> ReplaceFile calls
    std::vector<std::pair<std::string, std::string>> TextFiles;  // WriteTextFile (path, bytes)
    bool FailReplace = false;
    std::map<std::string, bool> AccessOverride;  // path -> CheckFileAccess answer
    std::vector<std::string> Removals;           // RemoveFile paths

    std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes) const override {
        return FReal->ReadFile(path, maxBytes);
    }
    bool ReplaceFile(std::string_view path, std::string_view bytes) override {
        ++Replacements[std::string(path)];
        return !FailReplace && FReal->ReplaceFile(path, bytes);
    }
    bool WriteTextFile(std::string_view bytes, std::string_view path) override {
        TextFiles.emplace_back(std::string(path), std::string(bytes));
        return FReal->WriteTextFile(bytes, path);
    }
    bool RemoveFile(std::string_view path) override {
        Removals.emplace_back(path);
        return FReal->RemoveFile(path);
    }
    bool RenameFile(std::string_view from, std::string_view to) override {
        return FReal->RenameFile(from, to);
    }
    bool FileExists(std::string_view path) const override { return FReal->FileExists(path); }
    bool DirectoryExists(std::string_view path) const override { return FReal->DirectoryExists(path); }
    bool ForceDirectories(std::string_view path) override { return FReal->ForceDirectories(path); }
    bool CheckFileAccess(std::uint32_t accessMask, std::string_view path) const override {
        auto it = AccessOverride.find(std::string(path));
        return it != AccessOverride.end() ? it->second : FReal->CheckFileAccess(accessMask, path);
    }
    bool GetFileCreationTime(std::string_view path, TFileTime& time) const override {
        return FReal->GetFileCreationTime(path, time);
    }
    void ListFiles(std::string_view mask, TStringList& list, bool withFolder) const override {
        FReal->ListFiles(mask, list, withFolder);
    }
    std::string GetLongPath(std::string_view path) const override { return FReal->GetLongPath(path); }
    bool MakePrivate(std::string_view path) override { return FReal->MakePrivate(path); }

    int ReplacementsOf(const std::string& path) const {
        auto it = Replacements.find(path);
        return it == Replacements.end() ? 0 : it->second;
    }

  private:
    std::unique_ptr<IFileSystem> FReal;
};

}  // namespace cloakline::test
