#include <gtest/gtest.h>

#include "cli/Options.h"

namespace {

struct OptionsCase {
    std::vector<Text> arguments;
    std::optional<Options::Action> action;
    Text profile;
};

TEST(ToolOptions, Table) {
    using A = Options::Action;
    const OptionsCase cases[] = {
        {{u"p.xml"}, A::Apply, u"p.xml"},
        {{u"--check", u"p.xml"}, A::Check, u"p.xml"},
        {{u"p.xml", u"--check"}, A::Check, u"p.xml"},
        {{u"--", u"--check"}, A::Apply, u"--check"},
        {{u"--help"}, A::Help, u""},
        {{u"p.xml", u"-h"}, A::Help, u""},
        {{u"--version"}, A::Version, u""},
        {{}, std::nullopt, u""},
        {{u""}, std::nullopt, u""},
        {{u"a", u"b"}, std::nullopt, u""},
        {{u"--force", u"p.xml"}, std::nullopt, u""},
    };
    for (const OptionsCase& c : cases) {
        const std::optional<Options> options = ParseOptions(c.arguments);
        ASSERT_EQ(options.has_value(), c.action.has_value()) << testing::PrintToString(c.arguments);
        if (options) {
            EXPECT_EQ(options->action, *c.action);
            EXPECT_EQ(options->profile, c.profile);
        }
    }
}

}  // namespace
