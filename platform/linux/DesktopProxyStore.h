#pragma once

namespace cloakline {

// What one of the desktop's proxy settings stores did with a change.
enum class ProxyStoreResult {
    Absent,   // this user's desktop has no such store; nothing written
    Written,  // the store holds the change
    Failed,   // the store is there but refused or lost the change
};

}  // namespace cloakline
