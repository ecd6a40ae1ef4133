#include "Options.h"

const char* const usageText =
    "Usage: talvor-apply [--check] PROFILE\n"
    "Points the profile at the eighteen tiles of the map set and turns raster display on,\n"
    "as the installer does.\n"
    "\n"
    "  --check    write nothing; exit 0 when the profile already holds the map set,\n"
    "             3 when applying it would change the profile, 4 when a rewrite of it\n"
    "             was cut short (the next run without --check puts its old bytes back)\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Exit status: 0 done, 1 the profile could not be read or written, 2 usage error,\n"
    "3 the profile would change (--check), 4 a rewrite of the profile was cut short.\n";

std::optional<Options> ParseOptions(const std::vector<Text>& arguments) {
    Options options;
    bool check = false;
    bool optionsEnded = false;
    std::vector<Text> operands;
    for (const Text& argument : arguments) {
        if (optionsEnded || argument.empty() || argument.front() != u'-' || argument == u"-") {
            operands.push_back(argument);
        } else if (argument == u"--") {
            optionsEnded = true;
        } else if (argument == u"--help" || argument == u"-h") {
            options.action = Options::Action::Help;
            return options;
        } else if (argument == u"--version") {
            options.action = Options::Action::Version;
            return options;
        } else if (argument == u"--check") {
            check = true;
        } else {
            return std::nullopt;
        }
    }
    if (operands.size() != 1 || operands.front().empty()) {
        return std::nullopt;
    }
    options.action = check ? Options::Action::Check : Options::Action::Apply;
    options.profile = operands.front();
    return options;
}
