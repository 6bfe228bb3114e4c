#pragma once

// WinInet, which needs <windows.h> before it.
// clang-format off
#include "platform/win32/Win32Api.h"
#include <wininet.h>
// clang-format on
