#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/api/DesktopNotifier.h"
#include "platform/api/GuardProcess.h"

namespace cloakline::test {

// Starts no process; every guard it "starts" records what the program sent.
class RecordingGuardLauncher : public IGuardLauncher {
  public:
    struct Guard {
        std::string Program;
        std::vector<std::string> Args;
        std::string Received;
        bool Closed = false;
        // The guard has died: sends fail.
        bool Dead = false;
    };

    std::vector<std::shared_ptr<Guard>> Started;
    // Start fails while this is set.
    bool Fail = false;

    std::unique_ptr<IGuardPipe> Start(const std::string& program,
                                      const std::vector<std::string>& args,
                                      std::string& error) override {
        if (Fail) {
            error = "no such program";
            return nullptr;
        }
        auto guard = std::make_shared<Guard>(Guard{program, args, {}, false, false});
        Started.push_back(guard);
        return std::make_unique<Pipe>(guard);
    }

  private:
    class Pipe : public IGuardPipe {
      public:
        explicit Pipe(std::shared_ptr<Guard> guard) : FGuard(std::move(guard)) {}
        ~Pipe() override { Close(0); }
        bool Send(std::string_view bytes) override {
            if (FGuard->Dead || FGuard->Closed) {
                return false;
            }
            FGuard->Received.append(bytes);
            return true;
        }
        bool Close(int) override {
            FGuard->Closed = true;
            return true;
        }

      private:
        std::shared_ptr<Guard> FGuard;
    };
};

// Shows nothing; remembers what it was asked to show.
class RecordingDesktopNotifier : public IDesktopNotifier {
  public:
    struct Shown {
        std::string Title;
        std::string Body;
    };
    std::vector<Shown> Notifications;
    bool Answer = true;

    bool Notify(const std::string& title, const std::string& body) override {
        Notifications.push_back({title, body});
        return Answer;
    }
};

}  // namespace cloakline::test
