#pragma once

// The common controls library that the process's activation context names (version 6 where the
// manifest asks for it), with its standard window classes registered.

#include <windows.h>

// Loads the common controls library and registers its standard classes (button, edit, static,
// list box, combo box, scroll bar) at the first call; later calls only return it. It stays loaded
// for the life of the process, as the windows of those classes run its code. The platform asks
// for this before the first window of such a class: Windows XP's user32 is not known to load the
// library by itself for a class that the activation context names, and programs with a version-6
// manifest that skip the call have failed to make their controls there. Null when the library
// could not be loaded or refused to register them; the window made next reports its own failure.
HMODULE StandardControls();
