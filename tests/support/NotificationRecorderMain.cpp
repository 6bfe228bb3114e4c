// A desktop notification server for tests: owns org.freedesktop.Notifications
// on the session bus and appends one line per Notify call to FILE:
//   notify<TAB>app<TAB>summary<TAB>body<TAB>urgency   (line breaks as "\n")
// Its first line, "ready", says that it owns the name. Ends on SIGTERM.
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <string>

namespace {

const char* const kInterface =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "<arg type='u' direction='out'/></method>"
    "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "<method name='GetServerInformation'><arg type='s' direction='out'/><arg type='s' direction='out'/>"
    "<arg type='s' direction='out'/><arg type='s' direction='out'/></method>"
    "</interface></node>";

std::string File;
GDBusNodeInfo* Node = nullptr;
guint Count = 0;

void Append(const std::string& line) {
    if (FILE* f = std::fopen(File.c_str(), "a")) {
        std::fputs((line + "\n").c_str(), f);
        std::fclose(f);
    }
}

std::string OneLine(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') {
            out += "\\n";
        } else {
            out += *p;
        }
    }
    return out;
}

void OnCall(GDBusConnection*,
            const gchar*,
            const gchar*,
            const gchar*,
            const gchar* method,
            GVariant* parameters,
            GDBusMethodInvocation* invocation,
            gpointer) {
    if (g_strcmp0(method, "Notify") == 0) {
        const gchar* app = nullptr;
        const gchar* summary = nullptr;
        const gchar* body = nullptr;
        GVariant* hints = nullptr;
        g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", &app, nullptr, nullptr, &summary, &body, nullptr,
                      &hints, nullptr);
        guchar urgency = 1;
        g_variant_lookup(hints, "urgency", "y", &urgency);
        g_variant_unref(hints);
        Append("notify\t" + OneLine(app) + "\t" + OneLine(summary) + "\t" + OneLine(body) + "\t" +
               std::to_string(urgency));
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++Count));
    } else if (g_strcmp0(method, "GetCapabilities") == 0) {
        const gchar* caps[] = {"body", nullptr};
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", caps));
    } else {
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(ssss)", "recorder", "cloakline", "1", "1.2"));
    }
}

const GDBusInterfaceVTable kVTable = {OnCall, nullptr, nullptr, {}};

void OnBus(GDBusConnection* bus, const gchar*, gpointer) {
    g_dbus_connection_register_object(bus, "/org/freedesktop/Notifications", Node->interfaces[0], &kVTable,
                                      nullptr, nullptr, nullptr);
}

void OnName(GDBusConnection*, const gchar*, gpointer) {
    Append("ready");
}

void OnLost(GDBusConnection*, const gchar*, gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
}

gboolean OnTerm(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    File = argv[1];
    Node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, OnTerm, loop);
    const guint owner = g_bus_own_name(G_BUS_TYPE_SESSION, "org.freedesktop.Notifications",
                                       G_BUS_NAME_OWNER_FLAGS_NONE, OnBus, OnName, OnLost, loop, nullptr);
    g_main_loop_run(loop);
    g_bus_unown_name(owner);
    g_main_loop_unref(loop);
    g_dbus_node_info_unref(Node);
    return 0;
}
