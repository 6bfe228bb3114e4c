#include "platform/linux/LinuxProxySettingsWatch.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <string_view>

#include "platform/linux/LinuxDataFolders.h"

namespace cloakline {

namespace {

constexpr const char* kSchemas[] = {"org.gnome.system.proxy", "org.gnome.system.proxy.http",
                                    "org.gnome.system.proxy.https", "org.gnome.system.proxy.ftp",
                                    "org.gnome.system.proxy.socks"};

// A watch of a file that changes in several writes reports the burst, not each write.
constexpr int kFileRateLimitMs = 100;
// Bounds one Pump, should a source keep itself ready.
constexpr int kMaxPumpIterations = 1000;

// Settings that only this process sees cannot be changed by another program.
bool BackendSharesSettings() {
    GSettingsBackend* backend = g_settings_backend_get_default();
    if (backend == nullptr) {
        return false;
    }
    const std::string_view type = g_type_name_from_instance(reinterpret_cast<GTypeInstance*>(backend));
    g_object_unref(backend);
    return type != "GMemorySettingsBackend" && type != "GNullSettingsBackend";
}

}  // namespace

struct LinuxProxySettingsWatch::Watches {
    std::function<void()> OnChange;
    std::vector<GSettings*> Settings;
    std::vector<GFileMonitor*> Monitors;

    static void SettingChanged(GSettings*, gchar*, gpointer self) { static_cast<Watches*>(self)->Notify(); }
    static void FileChanged(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event, gpointer self) {
        if (event != G_FILE_MONITOR_EVENT_ATTRIBUTE_CHANGED) {
            static_cast<Watches*>(self)->Notify();
        }
    }
    void Notify() const {
        if (OnChange) {
            OnChange();
        }
    }

    void WatchSettings() {
        GSettingsSchemaSource* source = g_settings_schema_source_get_default();
        if (source == nullptr || !BackendSharesSettings()) {
            return;
        }
        for (const char* id : kSchemas) {
            // g_settings_new aborts the process on a schema it does not know.
            GSettingsSchema* schema = g_settings_schema_source_lookup(source, id, TRUE);
            if (schema == nullptr) {
                continue;
            }
            GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
            g_signal_connect(settings, "changed", G_CALLBACK(&Watches::SettingChanged), this);
            // A backend may report only the keys that were read since a handler was connected.
            gchar** keys = g_settings_schema_list_keys(schema);
            for (gchar** key = keys; key != nullptr && *key != nullptr; ++key) {
                g_variant_unref(g_settings_get_value(settings, *key));
            }
            g_strfreev(keys);
            g_settings_schema_unref(schema);
            Settings.push_back(settings);
        }
    }

    void WatchFile(const std::string& path) {
        GFile* file = g_file_new_for_path(path.c_str());
        GFileMonitor* monitor = g_file_monitor_file(file, G_FILE_MONITOR_NONE, nullptr, nullptr);
        g_object_unref(file);
        if (monitor == nullptr) {
            return;
        }
        g_file_monitor_set_rate_limit(monitor, kFileRateLimitMs);
        g_signal_connect(monitor, "changed", G_CALLBACK(&Watches::FileChanged), this);
        Monitors.push_back(monitor);
    }

    ~Watches() {
        for (GSettings* settings : Settings) {
            g_signal_handlers_disconnect_by_data(settings, this);
            g_object_unref(settings);
        }
        for (GFileMonitor* monitor : Monitors) {
            g_signal_handlers_disconnect_by_data(monitor, this);
            g_file_monitor_cancel(monitor);
            g_object_unref(monitor);
        }
    }
};

LinuxProxySettingsWatch::LinuxProxySettingsWatch(EnvLookup env) : FEnv(std::move(env)) {}

LinuxProxySettingsWatch::~LinuxProxySettingsWatch() {
    Stop();
}

std::vector<std::string> LinuxProxySettingsWatch::WatchedFiles() const {
    std::vector<std::string> files;
    const std::string configHome = UserConfigHome(FEnv);
    if (!configHome.empty()) {
        files.push_back(configHome + "/kioslaverc");
    }
    const std::string home = UserHomeFolder(FEnv);
    if (!home.empty()) {
        const std::string folder = (home == "/" ? std::string() : home) + "/.opera/";
        files.push_back(folder + "opera6.ini");
        files.push_back(folder + "operaprefs.ini");
    }
    return files;
}

bool LinuxProxySettingsWatch::Start(std::function<void()> onChange) {
    Stop();
    auto watches = std::make_unique<Watches>();
    watches->OnChange = std::move(onChange);
    watches->WatchSettings();
    for (const std::string& path : WatchedFiles()) {
        watches->WatchFile(path);
    }
    if (watches->Settings.empty() && watches->Monitors.empty()) {
        return false;
    }
    FWatches = std::move(watches);
    return true;
}

void LinuxProxySettingsWatch::Stop() {
    FWatches.reset();
}

void LinuxProxySettingsWatch::Pump() {
    for (int i = 0; i < kMaxPumpIterations && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
}

}  // namespace cloakline
