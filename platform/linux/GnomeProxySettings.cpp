#include "platform/linux/GnomeProxySettings.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace cloakline {

namespace {

constexpr const char* kProxySchema = "org.gnome.system.proxy";
constexpr const char* kSchemeSchemas[] = {"org.gnome.system.proxy.http", "org.gnome.system.proxy.https",
                                          "org.gnome.system.proxy.ftp"};

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
using SettingsPtr = std::unique_ptr<GSettings, ObjectUnref>;
using SchemaPtr = std::unique_ptr<GSettingsSchema, SchemaUnref>;

// Without dconf GIO falls back to a backend in memory, which would take
// every write and show it to no other program.
bool BackendKeepsSettings() {
    std::unique_ptr<GSettingsBackend, ObjectUnref> backend(g_settings_backend_get_default());
    if (!backend) {
        return false;
    }
    const std::string_view type = g_type_name_from_instance(reinterpret_cast<GTypeInstance*>(backend.get()));
    return type != "GMemorySettingsBackend" && type != "GNullSettingsBackend";
}

// g_settings_new aborts the process on a schema or key it does not know, so
// every schema and key is looked up first.
SettingsPtr OpenSettings(const char* schemaId, std::initializer_list<const char*> keys) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return nullptr;
    }
    SchemaPtr schema(g_settings_schema_source_lookup(source, schemaId, TRUE));
    if (!schema) {
        return nullptr;
    }
    for (const char* key : keys) {
        if (!g_settings_schema_has_key(schema.get(), key)) {
            return nullptr;
        }
    }
    return SettingsPtr(g_settings_new_full(schema.get(), nullptr, nullptr));
}

struct StringFree {
    void operator()(gchar* text) const { g_free(text); }
};
using StringPtr = std::unique_ptr<gchar, StringFree>;

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
struct KeyUnref {
    void operator()(GSettingsSchemaKey* key) const { g_settings_schema_key_unref(key); }
};
using SchemaKeyPtr = std::unique_ptr<GSettingsSchemaKey, KeyUnref>;
struct StrvFree {
    void operator()(gchar** list) const { g_strfreev(list); }
};
using StrvPtr = std::unique_ptr<gchar*, StrvFree>;
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

// The main schema last: its mode is restored after the addresses.
constexpr const char* kRecordedSchemas[] = {"org.gnome.system.proxy.http", "org.gnome.system.proxy.https",
                                            "org.gnome.system.proxy.ftp", "org.gnome.system.proxy.socks",
                                            kProxySchema};

SchemaPtr LookupSchema(const char* schemaId) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    return SchemaPtr(source != nullptr ? g_settings_schema_source_lookup(source, schemaId, TRUE) : nullptr);
}

}  // namespace

bool RecordGnomeProxy(std::vector<TRecordedSetting>& settings) {
    if (!LookupSchema(kProxySchema) || !BackendKeepsSettings()) {
        return true;
    }
    for (const char* schemaId : kRecordedSchemas) {
        SchemaPtr schema = LookupSchema(schemaId);
        if (!schema) {
            continue;
        }
        const SettingsPtr store(g_settings_new_full(schema.get(), nullptr, nullptr));
        const StrvPtr keys(g_settings_schema_list_keys(schema.get()));
        std::vector<std::string> names;
        for (gchar** key = keys.get(); key != nullptr && *key != nullptr; ++key) {
            names.emplace_back(*key);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            TRecordedSetting setting{std::string(kGnomeRecordStore) + schemaId, name, std::nullopt};
            const VariantPtr value(g_settings_get_user_value(store.get(), name.c_str()));
            if (value) {
                const StringPtr text(g_variant_print(value.get(), TRUE));
                if (!text) {
                    return false;
                }
                setting.Value = std::string(text.get());
            }
            settings.push_back(std::move(setting));
        }
    }
    return true;
}

bool RestoreGnomeProxy(const std::vector<TRecordedSetting>& settings) {
    std::map<std::string, std::vector<const TRecordedSetting*>> bySchema;
    for (const TRecordedSetting& setting : settings) {
        if (setting.Store.starts_with(kGnomeRecordStore)) {
            bySchema[setting.Store.substr(kGnomeRecordStore.size())].push_back(&setting);
        }
    }
    if (bySchema.empty()) {
        return true;
    }
    if (!LookupSchema(kProxySchema) || !BackendKeepsSettings()) {
        return false;
    }
    bool ok = true;
    for (const char* schemaId : kRecordedSchemas) {
        const auto found = bySchema.find(schemaId);
        if (found == bySchema.end()) {
            continue;
        }
        SchemaPtr schema = LookupSchema(schemaId);
        if (!schema) {
            ok = false;
            continue;
        }
        std::vector<const TRecordedSetting*> keys = found->second;
        std::stable_partition(keys.begin(), keys.end(),
                              [](const TRecordedSetting* setting) { return setting->Key != "mode"; });
        const SettingsPtr store(g_settings_new_full(schema.get(), nullptr, nullptr));
        for (const TRecordedSetting* setting : keys) {
            if (!g_settings_schema_has_key(schema.get(), setting->Key.c_str())) {
                continue;  // a key of another version of the schemas
            }
            if (!setting->Value) {
                g_settings_reset(store.get(), setting->Key.c_str());
                continue;
            }
            const SchemaKeyPtr key(g_settings_schema_get_key(schema.get(), setting->Key.c_str()));
            GError* error = nullptr;
            // A full reference, not a floating one: released here.
            const VariantPtr value(g_variant_parse(g_settings_schema_key_get_value_type(key.get()),
                                                   setting->Value->c_str(), nullptr, nullptr, &error));
            if (!value) {
                std::unique_ptr<GError, ErrorFree> freed(error);
                ok = false;
                continue;
            }
            ok = g_settings_set_value(store.get(), setting->Key.c_str(), value.get()) && ok;
        }
    }
    g_settings_sync();
    return ok;
}

bool GnomeProxyStoreKept() {
    return OpenSettings(kProxySchema, {"mode"}) != nullptr && BackendKeepsSettings();
}

std::optional<std::string> ReadGnomeProxy() {
    SettingsPtr main = OpenSettings(kProxySchema, {"mode"});
    SettingsPtr http = OpenSettings(kSchemeSchemas[0], {"host", "port"});
    if (!main || !http || !BackendKeepsSettings()) {
        return std::nullopt;
    }
    const StringPtr mode(g_settings_get_string(main.get(), "mode"));
    if (mode == nullptr || std::string_view(mode.get()) != "manual") {
        return std::string();
    }
    const StringPtr host(g_settings_get_string(http.get(), "host"));
    const int port = g_settings_get_int(http.get(), "port");
    const std::string text = std::string(host ? host.get() : "") + ":" + std::to_string(port);
    return IsValidProxyText(text) ? text : std::string();
}

ProxyStoreResult ApplyGnomeProxy(const std::optional<TProxyEndpoint>& proxy) {
    SettingsPtr main = OpenSettings(kProxySchema, {"mode", "ignore-hosts"});
    SettingsPtr schemes[3];
    for (std::size_t i = 0; i < 3 && main; ++i) {
        schemes[i] = OpenSettings(kSchemeSchemas[i], {"host", "port"});
        if (!schemes[i]) {
            main.reset();
        }
    }
    if (!main || !BackendKeepsSettings()) {
        return ProxyStoreResult::Absent;
    }

    bool ok = true;
    if (proxy) {
        // Addresses before the mode, so that a browser watching the settings
        // never sees "manual" with the previous addresses.
        for (SettingsPtr& scheme : schemes) {
            ok = g_settings_set_string(scheme.get(), "host", proxy->Host.c_str()) && ok;
            ok = g_settings_set_int(scheme.get(), "port", proxy->Port) && ok;
        }
        const gchar* const noExceptions[] = {nullptr};
        ok = g_settings_set_strv(main.get(), "ignore-hosts", noExceptions) && ok;
        ok = ok && g_settings_set_string(main.get(), "mode", "manual");
    } else {
        ok = g_settings_set_string(main.get(), "mode", "none");
    }
    g_settings_sync();
    return ok ? ProxyStoreResult::Written : ProxyStoreResult::Failed;
}

}  // namespace cloakline
