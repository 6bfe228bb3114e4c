#pragma once

#include "core/support/WinVersion.h"

namespace cloakline {

// What the running system reports about its version; HasVersion stays false
// on a system that is not Windows.
TWindowsVersionInfo ReadWindowsVersionInfo();

// The 32-bit process runs on 64-bit Windows.
bool IsWow64();

// Fills the record, which the caller passes empty; on a system that is not
// Windows it stays as it is.
inline void GetWindowsTypeEx(TWindowsTypeEx& rec) {
    DescribeWindowsVersion(ReadWindowsVersionInfo(), rec);
}

inline bool IsWinVista64() {
    TWindowsTypeEx rec;
    GetWindowsTypeEx(rec);
    return rec.OSKind == TWindowsType::winVista64;
}

}  // namespace cloakline
