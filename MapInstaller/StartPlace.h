#pragma once

#include "text/Text.h"

// Where the file-open dialog opens for the text of argument 1.
struct StartPlace {
    // Handed to the platform as the dialog's folder, unchanged; empty lets the platform choose.
    Text folder;
    // Put in the dialog's name box; empty leaves it empty.
    Text fileName;

    friend bool operator==(const StartPlace&, const StartPlace&) = default;
};

// An existing file opens its folder with its name ready, so that Enter picks it. A name that
// exists nowhere, in a folder that does, opens that folder with the name box empty: the file may
// have been moved or renamed, and its neighbours are the likely choice. Any other text (a folder,
// a folder that does not exist, a name without a folder) goes to the platform as it is, which
// opens the folder it names or, when it names none, a folder of its own choice without a message.
StartPlace StartPlaceFor(const Text& argument);
