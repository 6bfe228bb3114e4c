#pragma once

#include <string>
#include <vector>

#include "platform/api/Processes.h"

namespace cloakline::test {

// Starts nothing; remembers every request so that a test can look at it.
class RecordingProcesses : public IProcesses {
  public:
    struct SpawnCall {
        std::string Program;
        TStringList Arguments;
        std::string WorkingFolder;
        bool HideAndWait = false;
        std::uint32_t TimeoutMs = 0;
    };

    std::vector<SpawnCall> Spawns;
    std::vector<std::string> OpenedUrls;
    // What Spawn and OpenURL answer.
    bool SpawnResult = true;
    bool OpenResult = true;

    bool OpenURL(std::string_view url) override {
        OpenedUrls.emplace_back(url);
        return OpenResult;
    }

    bool Spawn(std::string_view program,
               const TStringList& arguments,
               std::string_view workingFolder,
               bool hideAndWait,
               std::uint32_t timeoutMs) override {
        Spawns.push_back(
            SpawnCall{std::string(program), arguments, std::string(workingFolder), hideAndWait, timeoutMs});
        return SpawnResult;
    }
};

}  // namespace cloakline::test
