#pragma once

// The shell's calls, which need <windows.h> before them.
// clang-format off
#include "platform/win32/Win32Api.h"
#include <shellapi.h>
#include <shlobj.h>
// clang-format on
