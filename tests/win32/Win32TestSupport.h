#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cloakline::test {

// A fresh folder below the user's temporary folder, removed with its content.
class TScratchFolder {
  public:
    TScratchFolder();
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    // Program form, without a trailing "\".
    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + "\\" + name; }

  private:
    std::string FPath;
};

// A key below HKEY_CURRENT_USER\Software\CloaklineTests that goes with its values.
class TScratchKey {
  public:
    TScratchKey();
    ~TScratchKey();
    TScratchKey(const TScratchKey&) = delete;
    TScratchKey& operator=(const TScratchKey&) = delete;
    // Relative to HKEY_CURRENT_USER.
    const std::string& Path() const { return FPath; }

  private:
    std::string FPath;
};

// A registry value as it was, put back (or removed again) when this goes.
class TSavedValue {
  public:
    TSavedValue(void* root, std::string key, std::string name);
    ~TSavedValue();
    TSavedValue(const TSavedValue&) = delete;
    TSavedValue& operator=(const TSavedValue&) = delete;

  private:
    void* FRoot;
    std::string FKey;
    std::string FName;
    std::optional<std::vector<unsigned char>> FData;
    unsigned long FType = 0;
};

// This test program's own path.
std::string ThisProgram();
// Starts this program as "--child <arguments...>" and waits for its end, at
// most timeout; its exit code, or nullopt when it could not start or did not end.
std::optional<std::uint32_t> RunChild(const std::vector<std::string>& arguments,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(60));
// Starts it without waiting; the process handle, closed and the process
// ended by FinishChild.
void* StartChild(const std::vector<std::string>& arguments);
std::optional<std::uint32_t> FinishChild(void* process, std::chrono::milliseconds timeout);

// The file's bytes, or nullopt.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Checks done() every few milliseconds until it holds or the time is up.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// The parts of a child's command line as its C runtime reads them, written
// by the "args" child: each argument as its length in decimal, ":", the bytes.
std::vector<std::string> DecodeArguments(const std::string& bytes);

}  // namespace cloakline::test
