#include "core/framework/NamedStrings.h"

#include <array>

#include "core/support/TextEncoding.h"

namespace cloakline {

namespace {

// "{AppName}" is filled in by the language data; "{1}", "{2}" by the caller.
constexpr std::array kNamedStrings = {
    // The skin's message dialog.
    TNamedString{"SkinRes", "MSG_CAP_SHOWFLAG", "Do not display this message again"},

    // The update dialog.
    TNamedString{"LibRes", "TfrmKTUpdateForm.Caption", "Check for Updates"},
    TNamedString{"LibRes", "btnOk.Caption", "&OK"},
    TNamedString{"LibRes", "btnCancel.Caption", "&Cancel"},
    TNamedString{"LibRes", "cbAutoCheckUpdate.Caption", "&Auto Check Update"},
    TNamedString{"LibRes", "Update.Connecting", "Connecting..."},
    TNamedString{"LibRes", "Update.LastVersionAlready",
                 "You are already using the latest version of {AppName}."},
    TNamedString{
        "LibRes", "Update.NetError",
        "The update server could not be reached. Please check your network connection and try again."},
    TNamedString{"LibRes", "lblTimer.Caption", "This window will close in {1} sec(s)..."},
    // The about box ("btnOk.Caption" above serves it too).
    TNamedString{"LibRes", "TfrmKTAboutForm.Caption", "About {AppName}"},
    TNamedString{"LibRes", "TfrmKTAboutForm.CopyRightLine1",
                 "{AppName} hides your IP address from the web sites you visit."},
    TNamedString{"LibRes", "TfrmKTAboutForm.CopyRightLine2", "Version {1}"},
    TNamedString{"LibRes", "TfrmKTAboutForm.CopyRightLine3", "{1} translation: {2}"},
    TNamedString{"LibRes", "lblSupport.Caption", "Support"},

    // The application.
    TNamedString{"AppRes", "AppName", "Cloakline"},
    TNamedString{
        "AppRes", "MSGBox.CHKNET",
        "{AppName} cannot reach its server yet. Please check your network connection and try again."},
    TNamedString{"AppRes", "MSGBox_ACTIONFAST", "Please wait a moment before you hide or stop again."},
    TNamedString{"AppRes", "MSGBox.CloseNotify",
                 "{AppName} keeps running in the system tray. To quit, choose Exit in the tray menu."},
    TNamedString{"AppRes", "MSGBox.CloseNotifyNoTray",
                 "{AppName} keeps running, minimized, so that your IP address stays hidden. To quit, "
                 "right-click the window and choose Exit."},
    TNamedString{"AppRes", "MSGBox.FFRestart",
                 "Please restart Firefox so that the new settings take effect."},
    TNamedString{"AppRes", "MSGBox.FFUninstalled", "Firefox is not installed on this computer."},
    TNamedString{"AppRes", "MSGBox.FFPath",
                 "Firefox could not be started. Please choose the Firefox program file."},
    TNamedString{
        "AppRes", "MSGBox.NoProxy",
        "No proxy is available for the chosen location. Please try again later or choose another location."},
    TNamedString{"AppRes", "MSGBox.InstanceUnreachable",
                 "{AppName} is already running for you, but the running copy does not answer. Please end it "
                 "and start {AppName} again."},
    TNamedString{"AppRes", "FLSMsg.Verifing", "Verifying your IP information..."},
    TNamedString{"AppRes", "FLSMsg.Ready", "Ready"},
    TNamedString{"AppRes", "FLSMsg.Hiding", "Your IP address is hidden"},
    // A Hide or Stop that some browsers did not take; {1} lists their names.
    TNamedString{"AppRes", "FLSMsg.HidingPartly", "Your IP address is hidden in some browsers only"},
    TNamedString{"AppRes", "MSGBox.SwitchPartly",
                 "These browsers could not be pointed at the proxy and still show your own IP address: {1}."},
    TNamedString{"AppRes", "MSGBox.SwitchNone",
                 "No browser could be pointed at the proxy, so your IP address is not hidden. "
                 "Could not be switched: {1}."},
    TNamedString{
        "AppRes", "MSGBox.StopFailed",
        "These browsers could not be set back to a direct connection and may still use the proxy: {1}."},
    // The user's own proxy settings, kept while hiding and given back at Stop.
    TNamedString{
        "AppRes", "MSGBox.JournalFailed",
        "Your own proxy settings could not be saved, so nothing has been changed and your IP address "
        "is not hidden. Please check that your user folder can be written to."},
    TNamedString{"AppRes", "MSGBox.RestoreFailed",
                 "Your own proxy settings could not all be put back, so the browsers now use a direct "
                 "connection. {AppName} tries again at the next Stop or start."},
    TNamedString{"AppRes", "Browser.System",
                 "System proxy settings (used by Internet Explorer, Chrome, Chromium and others)"},
    TNamedString{"AppRes", "Browser.Firefox", "Firefox"},
    TNamedString{"AppRes", "Browser.Opera", "Opera"},
    // The list of the browsers found while hiding, one line each; {1} is a
    // browser's name (or one of the name forms below).
    TNamedString{"AppRes", "Browsers.Follows", "{1}: hidden (follows the system proxy settings)"},
    // {2}: the proxy's address, {3}: its country.
    TNamedString{"AppRes", "Browsers.Through", "{1}: through {2} ({3})"},
    TNamedString{"AppRes", "Browsers.NotThrough",
                 "{1}: NOT hidden: it runs but sends nothing through {AppName}"},
    TNamedString{"AppRes", "Browsers.FirefoxProfile", "Firefox ({1})"},
    TNamedString{"AppRes", "Browsers.FirefoxFollowsRunning",
                 "{1}: hidden (follows the system proxy settings); WebRTC and DNS protection after Firefox "
                 "restarts"},
    TNamedString{"AppRes", "Browsers.AfterRestart",
                 "{1}: hidden after Firefox restarts (it had proxy settings of its own)"},
    TNamedString{"AppRes", "Browsers.AtNextStart",
                 "{1}: hidden when Firefox starts (it had proxy settings of its own)"},
    TNamedString{"AppRes", "Browsers.FlatpakName", "{1} (Flatpak)"},
    TNamedString{"AppRes", "Browsers.SnapName", "{1} (Snap)"},
    TNamedString{"AppRes", "Browsers.Sandboxed",
                 "{1}: NOT hidden: this install cannot see the desktop's proxy settings"},
    TNamedString{"AppRes", "Browsers.WebRtcRisk",
                 "Chromium-based browsers: WebRTC may still reveal your IP address ({AppName} may not set "
                 "their browser policy)"},
    TNamedString{"AppRes", "Browsers.NoneFound", "No browsers found"},
    // The tray icon's tooltip while hiding; {1}: how many are hidden.
    TNamedString{"AppRes", "Browsers.SummaryAll", "Hidden in all {1} browsers found"},
    // {2}: how many were found; {3}: the names of those not hidden.
    TNamedString{"AppRes", "Browsers.SummarySome", "Hidden in {1} of {2} browsers; not hidden: {3}"},
    // Hiding through the local gateway; {1} is the chosen location's name.
    TNamedString{"AppRes", "Gateway.AnyCountry", "any country"},
    // Before the proxy lists have arrived.
    TNamedString{"AppRes", "Gateway.ChosenLocation", "the chosen location"},
    TNamedString{"AppRes", "FLSMsg.Checking", "Checking a proxy of {1}..."},
    TNamedString{"AppRes", "FLSMsg.Failover",
                 "Switched to another proxy of {1}: the previous one stopped working"},
    TNamedString{"AppRes", "FLSMsg.Recovered", "A working proxy of {1} was found again"},
    // Another program changed the desktop's proxy settings while hiding.
    TNamedString{"AppRes", "FLSMsg.ProxyPutBack",
                 "Another program changed the proxy settings; {AppName} put them back"},
    TNamedString{"AppRes", "FLSMsg.ProxyNotPutBack",
                 "Another program changed the proxy settings and {AppName} could not put them back: "
                 "browsers that follow them may not be hidden"},
    TNamedString{"AppRes", "FLSMsg.ProxyLeft",
                 "Another program changed the proxy settings; {AppName} left them, so browsers that "
                 "follow them may not be hidden"},
    TNamedString{"AppRes", "FLSMsg.ProxyGaveUp",
                 "Another program keeps changing the proxy settings; {AppName} stopped putting them "
                 "back, so browsers that follow them may not be hidden"},
    TNamedString{"AppRes", "FLSMsg.Blocked", "No working proxy: pages are blocked"},
    TNamedString{"AppRes", "FLSMsg.FailClosed",
                 "No proxy of {1} works. Pages stay blocked so that your IP address is not shown. Choose "
                 "another location or press Stop."},
    // {2} is one of the Gateway reasons below.
    TNamedString{
        "AppRes", "MSGBox.NoCheckedProxy",
        "No proxy of {1} passed the check ({2}). Please try again later or choose another location."},
    TNamedString{"AppRes", "MSGBox.GatewayFailed",
                 "The local gateway could not be started ({1}), so your IP address is not hidden. You can "
                 "switch the gateway off in the Options, on the Browser page."},
    TNamedString{"AppRes", "Gateway.NoAnswer", "the last one tried did not answer: {1}"},
    TNamedString{"AppRes", "Gateway.NoExitAddress", "the check page did not show the last one's address"},
    TNamedString{"AppRes", "Gateway.OwnAddress", "the last one tried showed your own IP address"},
    // {1}: the country the check page reported; {2}: the chosen one.
    TNamedString{"AppRes", "Gateway.OtherCountry", "the last one tried is in {1}, not in {2}"},
    // The page the browsers get while no proxy works.
    TNamedString{"AppRes", "Gateway.PageTitle", "No proxy works"},
    TNamedString{"AppRes", "Gateway.PageText",
                 "No proxy of {1} works at the moment. {AppName} blocks this page rather than show your own "
                 "IP address. Choose another location in {AppName}, or press Stop there to browse without "
                 "hiding."},
    // The desktop notification of the guard when the program died while
    // hiding through the gateway with "Guard.BlockWeb" on.
    TNamedString{"AppRes", "Guard.BlockedTitle", "{AppName} stopped unexpectedly: the web is blocked"},
    TNamedString{"AppRes", "Guard.Blocked",
                 "{AppName} ended while your browsers went through its gateway. They stay blocked so that "
                 "nothing leaves without the proxy. Start {AppName} again to restore your connection."},
};

}  // namespace

std::span<const TNamedString> NamedStrings() {
    return kNamedStrings;
}

const TNamedString* FindNamedString(std::string_view section, std::string_view key) {
    for (const TNamedString& entry : kNamedStrings) {
        if (SameTextAscii(entry.Section, section) && SameTextAscii(entry.Key, key)) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace cloakline
