#pragma once

// <windows.h> for the backend. It spells some calls as macros of their wide
// versions; where the program's own interfaces use the same names, the
// macros go, and the backend calls the wide versions by their full names.
#include <windows.h>

#undef ReplaceFile
#undef RegDeleteValue
