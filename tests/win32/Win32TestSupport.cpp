#include "tests/win32/Win32TestSupport.h"

#include <thread>

#include "core/support/RandomGenerator.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Processes.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Text.h"

namespace cloakline::test {

namespace {

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(path);
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

std::string UniqueSuffix() {
    RandomGenerator::EnsureSeeded();
    return std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(RandomGenerator::Next(0xFFFFFF));
}

}  // namespace

TScratchFolder::TScratchFolder() {
    wchar_t temp[MAX_PATH + 2] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring base = temp;
    if (!base.empty() && base.back() == L'\\') {
        base.pop_back();
    }
    for (int i = 0; i < 16 && FPath.empty(); ++i) {
        const std::wstring path = base + L"\\cloakline-test-" + Widen(UniqueSuffix());
        if (::CreateDirectoryW(path.c_str(), nullptr)) {
            FPath = Narrow(path);
        }
    }
}

TScratchFolder::~TScratchFolder() {
    if (!FPath.empty()) {
        RemoveTree(Widen(FPath));
    }
}

TScratchKey::TScratchKey() : FPath("Software\\CloaklineTests\\" + UniqueSuffix()) {}

TScratchKey::~TScratchKey() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, Widen(FPath).c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, Widen(FPath).c_str());
}

TSavedValue::TSavedValue(void* root, std::string key, std::string name)
    : FRoot(root), FKey(std::move(key)), FName(std::move(name)) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(static_cast<HKEY>(FRoot), Widen(FKey).c_str(), 0, KEY_READ, &opened) !=
        ERROR_SUCCESS) {
        return;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(opened, Widen(FName).c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<unsigned char> data(size);
        if (::RegQueryValueExW(opened, Widen(FName).c_str(), nullptr, &type, data.data(), &size) ==
            ERROR_SUCCESS) {
            data.resize(size);
            FData = std::move(data);
            FType = type;
        }
    }
    ::RegCloseKey(opened);
}

TSavedValue::~TSavedValue() {
    HKEY opened = nullptr;
    if (::RegCreateKeyExW(static_cast<HKEY>(FRoot), Widen(FKey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &opened, nullptr) != ERROR_SUCCESS) {
        return;
    }
    if (FData) {
        ::RegSetValueExW(opened, Widen(FName).c_str(), 0, FType, FData->data(),
                         static_cast<DWORD>(FData->size()));
    } else {
        ::RegDeleteValueW(opened, Widen(FName).c_str());
    }
    ::RegCloseKey(opened);
}

std::string ThisProgram() {
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return Narrow(std::wstring_view(path, length));
}

void* StartChild(const std::vector<std::string>& arguments) {
    std::vector<std::wstring> wide{L"--child"};
    for (const std::string& argument : arguments) {
        wide.push_back(Widen(argument));
    }
    const std::wstring program = Widen(ThisProgram());
    std::wstring line = BuildCommandLine(program, wide);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &created)) {
        return nullptr;
    }
    ::CloseHandle(created.hThread);
    return created.hProcess;
}

std::optional<std::uint32_t> FinishChild(void* process, std::chrono::milliseconds timeout) {
    if (process == nullptr) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> code;
    if (::WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (::GetExitCodeProcess(process, &exitCode)) {
            code = exitCode;
        }
    } else {
        ::TerminateProcess(process, 99);
        ::WaitForSingleObject(process, 5000);
    }
    ::CloseHandle(process);
    return code;
}

std::optional<std::uint32_t> RunChild(const std::vector<std::string>& arguments,
                                      std::chrono::milliseconds timeout) {
    return FinishChild(StartChild(arguments), timeout);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string bytes;
    char block[65536];
    DWORD got = 0;
    while (::ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) {
        bytes.append(block, got);
    }
    ::CloseHandle(file);
    return bytes;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<std::string> DecodeArguments(const std::string& bytes) {
    std::vector<std::string> arguments;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t colon = bytes.find(':', pos);
        if (colon == std::string::npos) {
            break;
        }
        const std::size_t length = std::stoul(bytes.substr(pos, colon - pos));
        arguments.push_back(bytes.substr(colon + 1, length));
        pos = colon + 1 + length;
    }
    return arguments;
}

}  // namespace cloakline::test
