#include "platform/linux/LinuxDesktopNotifier.h"

#include <gio/gio.h>

namespace cloakline {

namespace {

// A notification server that never answers must not hold the guard for long.
constexpr int kCallTimeoutMs = 5000;

}  // namespace

bool LinuxDesktopNotifier::Notify(const std::string& title, const std::string& body) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        g_clear_error(&error);
        return false;
    }
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    // Critical: it stays until the user has seen it, as the web stays blocked.
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(2));
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
        "org.freedesktop.Notifications", "Notify",
        g_variant_new("(susssasa{sv}i)", "Cloakline", 0u, "network-error", title.c_str(), body.c_str(),
                      &actions, &hints, 0),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    const bool shown = reply != nullptr;
    if (reply != nullptr) {
        g_variant_unref(reply);
    }
    g_clear_error(&error);
    g_object_unref(bus);
    return shown;
}

}  // namespace cloakline
