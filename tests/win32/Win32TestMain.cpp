// The tests' entry. Started as "--child <mode> ..." the program is instead
// the second process that a two-process test needs.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32InstanceChannel.h"
#include "platform/win32/Win32ShellApi.h"
#include "platform/win32/Win32SingleInstance.h"
#include "platform/win32/Win32Text.h"

namespace {

using namespace cloakline;

constexpr int kChildFailed = 2;
constexpr int kMutexTaken = 3;
constexpr DWORD kListenerLifetimeMs = 30000;

bool WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

// mutex NAME: 0 when this process created the mutex, 3 when it existed.
int MutexChild(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        return kChildFailed;
    }
    Win32SingleInstance instance;
    return instance.CreateUniqueMutex(args[0]) ? 0 : kMutexTaken;
}

// args FILE ...: the arguments after FILE, written to FILE.
int ArgsChild(const std::vector<std::string>& args) {
    if (args.empty()) {
        return kChildFailed;
    }
    std::string encoded;
    for (std::size_t i = 1; i < args.size(); ++i) {
        encoded += std::to_string(args[i].size()) + ":" + args[i];
    }
    return WriteBytes(args[0], encoded) ? 0 : kChildFailed;
}

// The command line as the C runtime reads it, in UTF-8.
std::vector<std::string> WideArguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr) {
        return arguments;
    }
    for (int i = 0; i < count; ++i) {
        arguments.push_back(Narrow(words[i]));
    }
    ::LocalFree(words);
    return arguments;
}

// listener CLASS APPID FILE [hang]: a main window of the class that answers
// "KT GetAppID" with APPID and writes forwarded texts to FILE, until "KT
// CloseApp". With hang it stops handling messages once it is found.
int ListenerChild(const std::vector<std::string>& args) {
    if (args.size() < 3) {
        return kChildFailed;
    }
    const std::int64_t appId = std::stoll(args[1]);
    const std::string file = args[2];
    const bool hang = args.size() > 3 && args[3] == "hang";
    Win32InstanceChannel channel;
    auto listener = channel.Listen(args[0]);
    if (!listener) {
        return kChildFailed;
    }
    bool closing = false;
    int result = 0;
    const auto handler = [&](const InstanceMessage& message) -> std::int64_t {
        if (message.Name == kMsgGetAppID) {
            if (hang) {
                WriteBytes(file, "found");
            }
            return appId;
        }
        if (message.Name == kMsgCopyData) {
            const auto text = TextFromCopyData(message);
            if (!text || !WriteBytes(file, *text)) {
                result = kChildFailed;
            }
            return 0;
        }
        if (message.Name == kMsgCloseApp) {
            closing = true;
        }
        return 0;
    };
    const DWORD start = ::GetTickCount();
    while (!closing && ::GetTickCount() - start < kListenerLifetimeMs) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        listener->ServePending(handler);
        if (hang && ::GetFileAttributesW(Widen(file).c_str()) != INVALID_FILE_ATTRIBUTES) {
            ::Sleep(10000);
            return 0;
        }
    }
    return closing ? result : kChildFailed;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words = WideArguments();
    if (words.size() >= 3 && words[1] == "--child") {
        const std::string& mode = words[2];
        const std::vector<std::string> args(words.begin() + 3, words.end());
        if (mode == "mutex") {
            return MutexChild(args);
        }
        if (mode == "args") {
            return ArgsChild(args);
        }
        if (mode == "listener") {
            return ListenerChild(args);
        }
        return kChildFailed;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
