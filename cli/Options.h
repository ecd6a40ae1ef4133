#pragma once

#include <optional>
#include <string>
#include <vector>

#include "text/Text.h"

// What the command line asks of the tool.
struct Options {
    enum class Action { Apply, Check, Help, Version };
    Action action = Action::Apply;
    Text profile;
};

// Parses the arguments after the program name; nothing when they are not a valid use.
std::optional<Options> ParseOptions(const std::vector<Text>& arguments);

extern const char* const usageText;
