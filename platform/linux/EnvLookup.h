#pragma once

#include <cstdlib>
#include <functional>

namespace cloakline {

// A getenv-like lookup, so that callers can read the environment they were
// given instead of the process's (tests check precedence without setenv).
using EnvLookup = std::function<const char*(const char*)>;

inline const char* SystemGetenv(const char* name) {
    return std::getenv(name);
}

// The variable's value, or nullptr when it is unset or empty.
inline const char* NonEmptyEnv(const EnvLookup& env, const char* name) {
    const char* value = env ? env(name) : nullptr;
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace cloakline
