#include "CommandLine.h"

namespace {

constexpr char16_t quote = u'"';

bool IsSeparator(char16_t unit) {
    return unit >= 0x0001 && unit <= 0x0020;
}

// Reads the argument that starts at or after `pos` and leaves `pos` just behind it.
Text NextArgument(TextView commandLine, std::size_t& pos) {
    const std::size_t size = commandLine.size();
    while (pos < size) {
        if (IsSeparator(commandLine[pos])) {
            ++pos;
        } else if (pos + 1 < size && commandLine[pos] == quote && commandLine[pos + 1] == quote) {
            pos += 2;
        } else {
            break;
        }
    }

    Text argument;
    while (pos < size && commandLine[pos] > 0x0020) {
        if (commandLine[pos] == quote) {
            ++pos;
            while (pos < size && commandLine[pos] != quote) {
                argument += commandLine[pos++];
            }
            // An unclosed run ends with the command line.
            if (pos < size) {
                ++pos;
            }
        } else {
            argument += commandLine[pos++];
        }
    }
    return argument;
}

}  // namespace

Text FirstCommandLineArgument(TextView commandLine) {
    std::size_t pos = 0;
    if (NextArgument(commandLine, pos).empty()) {
        return {};
    }
    return NextArgument(commandLine, pos);
}
