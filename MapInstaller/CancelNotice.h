#pragma once

#include <windows.h>

// Tells the user, in a notice owned by `owner`, that the installation ends without changing the
// profile; returns once the notice is closed, however it was closed. A notice that cannot be
// shown is passed over in silence.
void ShowCancelNotice(HWND owner);
