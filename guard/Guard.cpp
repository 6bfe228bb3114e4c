#include "guard/Guard.h"

#include "guard/GuardProtocol.h"

namespace cloakline {

namespace {

// A line longer than any text the program sends is no message of its.
constexpr std::size_t kMaxLine = 64 * 1024;

}  // namespace

TGuard::TGuard(std::function<bool()> restore, IDesktopNotifier& notifier)
    : FRestore(std::move(restore)), FNotifier(notifier) {}

void TGuard::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            FPartial.append(bytes);
            if (FPartial.size() > kMaxLine) {
                FPartial.clear();
            }
            return;
        }
        FPartial.append(bytes.substr(0, end));
        bytes.remove_prefix(end + 1);
        Line(FPartial);
        FPartial.clear();
    }
}

void TGuard::Line(std::string_view line) {
    const std::optional<TGuardMessage> message = ParseGuardLine(line);
    // Once released, nothing the pipe still carries makes the guard act.
    if (!message || FReleased) {
        return;
    }
    switch (message->Kind) {
        case TGuardMessage::TKind::Title:
            FTitle = message->Text;
            break;
        case TGuardMessage::TKind::Body:
            FBody = message->Text;
            break;
        case TGuardMessage::TKind::Block:
            FBlock = message->On;
            break;
        case TGuardMessage::TKind::Release:
            FReleased = true;
            break;
    }
}

TGuardEnd TGuard::End() {
    // A last line cut off by the program's death is no message: only a whole
    // "release" line counts.
    FPartial.clear();
    if (FReleased) {
        return TGuardEnd::Released;
    }
    if (FBlock) {
        FNotified = FNotifier.Notify(FTitle, FBody);
        return TGuardEnd::Blocked;
    }
    return FRestore() ? TGuardEnd::Restored : TGuardEnd::RestoreFailed;
}

}  // namespace cloakline
