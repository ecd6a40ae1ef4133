#pragma once

#include <windows.h>

#include "text/Text.h"

// The full path of a loaded module's file (null: the program's own), however long; empty when
// the platform cannot tell, with its error code left for GetLastError.
Text ModulePath(HMODULE module);
