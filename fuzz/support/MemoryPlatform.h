#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/api/Platform.h"

namespace cloakline::fuzz {

// Files held in memory under their program-form paths, so that a fuzz run
// touches no disk and every input starts from the same installation.
class MemoryFileSystem : public IFileSystem {
  public:
    std::map<std::string, std::string> Files;
    std::set<std::string> Folders;

    std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes) const override {
        auto it = Files.find(std::string(path));
        if (it == Files.end() || it->second.size() > maxBytes) {
            return std::nullopt;
        }
        return it->second;
    }
    bool ReplaceFile(std::string_view path, std::string_view bytes) override {
        Files[std::string(path)] = std::string(bytes);
        return true;
    }
    bool WriteTextFile(std::string_view bytes, std::string_view path) override {
        return ReplaceFile(path, bytes);
    }
    bool RemoveFile(std::string_view path) override {
        Files.erase(std::string(path));
        return true;
    }
    bool RenameFile(std::string_view from, std::string_view to) override {
        auto it = Files.find(std::string(from));
        if (it == Files.end()) {
            return false;
        }
        std::string bytes = std::move(it->second);
        Files.erase(it);
        Files[std::string(to)] = std::move(bytes);
        return true;
    }
    bool FileExists(std::string_view path) const override {
        return Files.count(std::string(path)) != 0 || DirectoryExists(path);
    }
    bool DirectoryExists(std::string_view path) const override {
        return Folders.count(WithoutTrailingSeparator(path)) != 0;
    }
    bool ForceDirectories(std::string_view path) override {
        Folders.insert(WithoutTrailingSeparator(path));
        return true;
    }
    bool CheckFileAccess(std::uint32_t, std::string_view) const override { return true; }
    bool GetFileCreationTime(std::string_view, TFileTime&) const override { return false; }
    void ListFiles(std::string_view, TStringList&, bool) const override {}
    std::string GetLongPath(std::string_view path) const override { return std::string(path); }

  private:
    static std::string WithoutTrailingSeparator(std::string_view path) {
        while (!path.empty() && path.back() == '\\') {
            path.remove_suffix(1);
        }
        return std::string(path);
    }
};

class FixedFolders : public IDataFolders {
  public:
    std::string GetExeName() const override { return "C:\\prog\\cloakline.exe"; }
    std::string GetShellFolder(std::string_view) const override { return "C:\\user"; }
    std::string GetCommonShellFolder(std::string_view) const override { return "C:\\common"; }
    std::string GetTempDir() const override { return "C:\\temp\\"; }
};

class FixedClock : public IClock {
  public:
    TDateTime Now() const override { return 45000.5; }
    std::uint32_t TickCount() const override { return 1000; }
};

class FixedSystemInfo : public ISystemInfo {
  public:
    std::string GetSystemLanguageName() const override { return "English (United States)"; }
    std::uint16_t GetSystemLanguageId() const override { return 1033; }
    char DecimalSeparator() const override { return '.'; }
};

// An installation whose program folder is "C:\prog\".
struct MemoryPlatform {
    MemoryPlatform() {
        auto files = std::make_unique<MemoryFileSystem>();
        Files = files.get();
        P.Files = std::move(files);
        P.Folders = std::make_unique<FixedFolders>();
        P.Clock = std::make_unique<FixedClock>();
        P.SystemInfo = std::make_unique<FixedSystemInfo>();
        Files->ForceDirectories("C:\\prog");
    }
    static constexpr std::string_view kConstPath = "C:\\prog\\const.dat";

    Platform P;
    MemoryFileSystem* Files;
};

}  // namespace cloakline::fuzz
