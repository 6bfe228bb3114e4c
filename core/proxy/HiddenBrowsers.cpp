#include "core/proxy/HiddenBrowsers.h"

#include <algorithm>

namespace cloakline {

namespace {

constexpr std::string_view kFirefox = "Firefox";

const TRunningBrowser* RunningOf(const THiddenBrowsersFacts& facts, std::string_view name) {
    for (const TRunningBrowser& running : facts.Running) {
        if (running.Name == name) {
            return &running;
        }
    }
    return nullptr;
}

class TLineBuilder {
  public:
    TLineBuilder(const THiddenBrowsersFacts& facts, const TTextLookup& text) : FFacts(facts), FText(text) {
        FAnyThrough =
            std::any_of(facts.Running.begin(), facts.Running.end(),
                        [](const TRunningBrowser& running) { return running.GatewayConnections > 0; });
    }

    // A browser that follows the desktop, by what its processes do now when
    // that is known. running: nullptr when it does not run.
    void Follower(const std::string& shown, const TRunningBrowser* running, std::string_view followsKey) {
        if (FFacts.ThroughGateway && running != nullptr && running->GatewayConnections > 0) {
            Add(FText("Browsers.Through", {shown, FFacts.UpstreamAddress, FFacts.UpstreamCountry}), true);
        } else if (FFacts.ThroughGateway && running != nullptr && FAnyThrough) {
            // Others send through the gateway and this one does not: it
            // goes somewhere else.
            Add(FText("Browsers.NotThrough", {shown}), false);
        } else {
            Add(FText(followsKey, {shown}), true);
        }
    }

    void Add(std::string line, bool hidden) { FView.Lines.push_back({std::move(line), hidden}); }

    void Counted(const std::string& name, bool hidden) {
        (hidden ? FHiddenNames : FOpenNames).push_back(name);
    }

    THiddenBrowserLines Finish() {
        if (FHiddenNames.empty() && FOpenNames.empty()) {
            FView.Summary = FText("Browsers.NoneFound", {});
            if (FView.Lines.empty()) {
                Add(FView.Summary, false);
            }
        } else if (FOpenNames.empty()) {
            FView.Summary = FText("Browsers.SummaryAll", {std::to_string(FHiddenNames.size())});
        } else {
            std::string open;
            for (const std::string& name : FOpenNames) {
                open += (open.empty() ? "" : ", ") + name;
            }
            FView.Summary = FText("Browsers.SummarySome",
                                  {std::to_string(FHiddenNames.size()),
                                   std::to_string(FHiddenNames.size() + FOpenNames.size()), open});
        }
        return std::move(FView);
    }

    bool LastHidden() const { return FView.Lines.back().Hidden; }

  private:
    const THiddenBrowsersFacts& FFacts;
    const TTextLookup& FText;
    bool FAnyThrough = false;
    THiddenBrowserLines FView;
    std::vector<std::string> FHiddenNames;
    std::vector<std::string> FOpenNames;
};

}  // namespace

THiddenBrowserLines BuildHiddenBrowsers(const THiddenBrowsersFacts& facts, const TTextLookup& text) {
    TLineBuilder lines(facts, text);
    bool anyChromium = false;
    std::vector<std::string> listed;
    for (const TInstalledBrowser& browser : facts.Installed) {
        if (browser.Kind != TBrowserKind::ChromiumBased) {
            continue;
        }
        anyChromium = true;
        listed.push_back(browser.Name);
        lines.Follower(browser.Name, RunningOf(facts, browser.Name), "Browsers.Follows");
        lines.Counted(browser.Name, lines.LastHidden());
    }
    for (const TInstalledBrowser& browser : facts.Installed) {
        if (browser.Kind != TBrowserKind::FirefoxProfile) {
            continue;
        }
        listed.push_back(std::string(kFirefox));
        const std::string shown = text("Browsers.FirefoxProfile", {browser.Name});
        if (browser.OwnProxySetting) {
            // Pointed at the desktop through user.js, which Firefox reads at its start.
            lines.Add(text(browser.InUse ? "Browsers.AfterRestart" : "Browsers.AtNextStart", {shown}), true);
        } else {
            // The leak guard comes with Firefox's next start.
            lines.Follower(shown, browser.InUse ? RunningOf(facts, kFirefox) : nullptr,
                           browser.InUse ? "Browsers.FirefoxFollowsRunning" : "Browsers.Follows");
        }
        lines.Counted(shown, lines.LastHidden());
    }
    // A browser that runs but was not found otherwise (a program in a place
    // of its own) still tells what it does.
    if (facts.ThroughGateway) {
        for (const TRunningBrowser& running : facts.Running) {
            if (std::find(listed.begin(), listed.end(), running.Name) == listed.end()) {
                listed.push_back(running.Name);
                anyChromium = anyChromium || running.Name != kFirefox;
                lines.Follower(running.Name, &running, "Browsers.Follows");
                lines.Counted(running.Name, lines.LastHidden());
            }
        }
    }
    for (const TInstalledBrowser& browser : facts.Installed) {
        if (browser.Kind == TBrowserKind::Flatpak || browser.Kind == TBrowserKind::Snap) {
            const std::string shown =
                text(browser.Kind == TBrowserKind::Flatpak ? "Browsers.FlatpakName" : "Browsers.SnapName",
                     {browser.Name});
            lines.Add(text("Browsers.Sandboxed", {shown}), false);
            lines.Counted(shown, false);
        }
    }
    if (anyChromium && !facts.ChromiumPolicyApplied) {
        lines.Add(text("Browsers.WebRtcRisk", {}), false);
    }
    return lines.Finish();
}

}  // namespace cloakline
