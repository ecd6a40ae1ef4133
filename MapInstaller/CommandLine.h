#pragma once

#include "text/Text.h"

// Argument 1 of a process command line, the folder in which the profile selection opens; empty
// when there is none. Arguments are separated by spaces and control characters; double quotes
// enclose runs that keep them; an empty quoted pair before an argument does not count as one; a
// backslash is an ordinary character, also before a quote, so that "C:\Maps\" stays a folder.
Text FirstCommandLineArgument(TextView commandLine);
