// cloakline-inventory: manages the server's proxies and its release record.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/support/UrlUtils.h"
#include "server/core/CommandLine.h"
#include "server/store/OpenProxyStore.h"

namespace {

using namespace cloakline::server;

constexpr int kBadInput = 2;

std::string TimeText(const std::optional<std::int64_t>& at) {
    if (!at) {
        return "never";
    }
    const std::time_t t = static_cast<std::time_t>(*at);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

int Import(IProxyStore& store, const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cloakline-inventory: cannot read %s\n", file.c_str());
        return kBadInput;
    }
    std::vector<TProxyEntry> entries;
    std::string line;
    std::size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::string reason;
        auto entry = ParseImportLine(line, reason);
        if (!reason.empty()) {
            // Nothing is imported from a file with a wrong line: fix it and run again.
            std::fprintf(stderr, "cloakline-inventory: %s:%zu: %s\n", file.c_str(), lineNo, reason.c_str());
            return kBadInput;
        }
        if (entry) {
            entries.push_back(std::move(*entry));
        }
    }
    store.PutProxies(entries);
    std::printf("imported %zu proxies\n", entries.size());
    return 0;
}

int Run(const TInventoryCommand& command) {
    if (command.Action == TInventoryAction::KMigrate) {
        for (const std::string& line : MigrateProxyStore(command.DbPath)) {
            std::printf("%s\n", line.c_str());
        }
        return 0;
    }
    // A PostgreSQL store behind this build's schema is refused here.
    const std::unique_ptr<IProxyStore> opened = OpenProxyStore(command.DbPath);
    IProxyStore& store = *opened;
    switch (command.Action) {
        case TInventoryAction::KAdd:
            store.PutProxy(command.Entry);
            std::printf("added %s\n", command.Entry.Shown().c_str());
            return 0;
        case TInventoryAction::KRemove:
            if (!store.RemoveProxy(command.Address)) {
                std::fprintf(stderr, "cloakline-inventory: no proxy %s\n", command.Address.c_str());
                return kBadInput;
            }
            std::printf("removed %s\n", command.Address.c_str());
            return 0;
        case TInventoryAction::KList:
            // The address as added, its credentials written "***".
            for (const TProxyEntry& e : store.ListProxies()) {
                const std::string health = !e.CheckedAt ? "unchecked" : e.Healthy ? "healthy" : "failing";
                std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\tchecked=%s\ttouched=%s\n", e.Shown().c_str(),
                            e.CountryCode.c_str(), e.Country.c_str(), e.Longitude.c_str(), e.Latitude.c_str(),
                            e.IsSuper ? "super" : "normal", health.c_str(), TimeText(e.CheckedAt).c_str(),
                            TimeText(e.LastTouch).c_str());
            }
            return 0;
        case TInventoryAction::KImport:
            return Import(store, command.File);
        case TInventoryAction::KRelease:
            store.SetRelease(command.Release);
            std::printf("release %s\n", command.Release.Version.c_str());
            return 0;
        case TInventoryAction::KMigrate:
            break;
    }
    return kBadInput;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto command = ParseInventoryCommand(args, error);
    if (!command) {
        // A refused argument is named, but never with a password in it.
        std::fprintf(stderr, "cloakline-inventory: %s\n", cloakline::RedactUrlCredentials(error).c_str());
        return kBadInput;
    }
    try {
        return Run(*command);
    } catch (const std::exception& e) {
        // Store errors name the store without credentials already; this
        // catches any other text that might carry the URL.
        std::fprintf(stderr, "cloakline-inventory: %s\n", cloakline::RedactUrlCredentials(e.what()).c_str());
        return 1;
    }
}
