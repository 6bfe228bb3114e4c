#include "platform/linux/LinuxSystemProxy.h"

#include "core/proxy/ProxyText.h"
#include "platform/linux/GnomeProxySettings.h"
#include "platform/linux/KdeProxySettings.h"

namespace cloakline {

LinuxSystemProxy::LinuxSystemProxy(EnvLookup env) : FEnv(std::move(env)) {}

bool LinuxSystemProxy::ApplyProxy(std::string_view proxy) {
    std::optional<TProxyEndpoint> endpoint;
    if (!proxy.empty()) {
        endpoint = ParseProxyText(proxy);
        if (!endpoint) {
            return false;
        }
    }
    // Both stores are written even when one fails: each serves other programs.
    const ProxyStoreResult gnome = ApplyGnomeProxy(endpoint);
    const ProxyStoreResult kde = ApplyKdeProxy(FEnv, endpoint);
    if (gnome == ProxyStoreResult::Failed || kde == ProxyStoreResult::Failed) {
        return false;
    }
    // A proxy that no store keeps reaches no program; a clear with no store
    // leaves nothing on a proxy.
    return !endpoint || gnome == ProxyStoreResult::Written || kde == ProxyStoreResult::Written;
}

std::string LinuxSystemProxy::CurrentProxy() const {
    std::optional<std::string> proxy = ReadGnomeProxy();
    if (!proxy || proxy->empty()) {
        proxy = ReadKdeProxy(FEnv);
    }
    return proxy ? *proxy : std::string();
}

bool LinuxSystemProxy::HoldsProxy(std::string_view proxy) const {
    const std::optional<std::string> gnome = ReadGnomeProxy();
    const std::optional<std::string> kde = ReadKdeProxy(FEnv);
    if (proxy.empty() || (!gnome && !kde)) {
        return false;
    }
    return (!gnome || *gnome == proxy) && (!kde || *kde == proxy);
}

}  // namespace cloakline
