// Argument 1 of the process command line: the folder in which the profile selection opens.

#include <gtest/gtest.h>

#include <string>

#include "MapInstaller/CommandLine.h"
#include "support/CaseName.h"

namespace {

struct CommandLineCase {
    const char* name;
    TextView commandLine;
    TextView expected;
};

const CommandLineCase commandLineCases[] = {
    {"no argument", u"Installer.exe", u""},
    {"empty command line", u"", u""},
    {"only blanks", u" \t ", u""},
    {"plain folder", u"Installer.exe C:\\Maps", u"C:\\Maps"},
    {"quoted program path with spaces", u"\"C:\\Program Files\\Installer.exe\" C:\\Maps",
     u"C:\\Maps"},
    {"backslash before the closing quote does not protect it",
     u"Installer.exe \"C:\\My Maps\\\" next", u"C:\\My Maps\\"},
    {"empty quoted pair in front is skipped", u"Installer.exe \"\" \"C:\\My Maps\\\"",
     u"C:\\My Maps\\"},
    {"empty quoted pairs in a row are skipped", u"Installer.exe \"\"\"\" D:\\", u"D:\\"},
    {"empty quoted pair standing alone is no argument", u"Installer.exe \"\"", u""},
    {"empty quoted pair before argument 0 is skipped", u"\"\" Installer.exe C:\\Maps", u"C:\\Maps"},
    {"unquoted argument stops at a space", u"Installer.exe C:\\My Maps", u"C:\\My"},
    {"unclosed quote runs to the end", u"Installer.exe \"C:\\My Maps", u"C:\\My Maps"},
    {"quoted runs join their neighbours", u"Installer.exe C:\\\"My \"Maps\"\\x\" y",
     u"C:\\My Maps\\x"},
    {"backslash quote is a backslash then a quoted run", u"Installer.exe \\\"a b\\\" c",
     u"\\a b\\"},
    {"tabs separate", u"Installer.exe\tC:\\Maps\tother", u"C:\\Maps"},
    {"every control character separates",
     u"\x01Installer.exe\x1f\x0d\x0a"
     u"C:\\Maps\x7f\x01x",
     u"C:\\Maps\x7f"},
    {"a quoted run keeps spaces and control characters",
     u"Installer.exe \"a\tb \x01"
     u"c\"",
     u"a\tb \x01"
     u"c"},
    {"units above U+0020 belong to the argument", u"Installer.exe Cartes\u00a0d'\u00e9t\u00e9",
     u"Cartes\u00a0d'\u00e9t\u00e9"},
    {"a lone quote is an empty argument 0", u"\"", u""},
    {"argument 0 that is an unclosed quoted run swallows the rest", u"\" Installer.exe C:\\Maps",
     u""},
    {"a null unit ends the command line", TextView(u"Installer.exe\0C:\\Maps", 21), u""},
};

class FirstCommandLineArgumentTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(FirstCommandLineArgumentTest, TakesArgumentOne) {
    const CommandLineCase& c = GetParam();
    EXPECT_EQ(FirstCommandLineArgument(c.commandLine), Text(c.expected)) << ToUtf8(c.commandLine);
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstCommandLineArgumentTest, testing::ValuesIn(commandLineCases),
                         CaseName());

}  // namespace
