// talvor-apply: the installer's profile rewrite, for unattended deployment.

#include <cstdio>
#include <string>
#include <vector>

#include "Options.h"
#include "profile/ProfileRewrite.h"
#include "text/Error.h"
#include "text/ErrorMessage.h"
#include "text/Platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include "text/PosixName.h"
#endif

namespace {

enum ExitCode { done = 0, failed = 1, usageError = 2, wouldChange = 3, cutRewritePending = 4 };

// Texts go out in UTF-8; on POSIX a file name in them goes out as the bytes it was given as.
std::string ForOutput(TextView text) {
#ifdef _WIN32
    return ToUtf8(text);
#else
    return NameToBytes(text);
#endif
}

void Print(std::FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
}

std::string LineCountText(std::int32_t count) {
    return std::to_string(count) + (count == 1 ? " line" : " lines");
}

std::string Describe(const Text& profile, const RewriteSummary& summary) {
    std::string line = ForOutput(profile) + ": ";
    line += summary.mapFilesLineInserted
                ? "map files line inserted as line 5"
                : "map files set on " + LineCountText(summary.mapFilesLinesSet);
    line += summary.rasterLinesSet > 0
                ? ", raster display turned on on " + LineCountText(summary.rasterLinesSet)
                : ", no raster display line";
    return line;
}

void PrintError(TextView message) {
    Print(stderr, ForOutput(WithFullStop(message)));
}

int Run(const std::vector<Text>& arguments) {
    platform::RemoveNewFileOnInterrupt();
    // Every failure ends here with its message, once the new file of a save has been removed.
    try {
        const std::optional<Options> options = ParseOptions(arguments);
        if (!options) {
            std::fputs(usageText, stderr);
            return usageError;
        }
        switch (options->action) {
            case Options::Action::Help:
                std::fputs(usageText, stdout);
                return done;
            case Options::Action::Version:
                std::puts("talvor-apply " TALVOR_VERSION);
                return done;
            case Options::Action::Check:
                return ProfileHoldsMapSet(options->profile) ? done : wouldChange;
            case Options::Action::Apply:
                Print(stdout, Describe(options->profile, ApplyMapSet(options->profile)));
                return done;
        }
    } catch (const CutRewriteError& error) {
        PrintError(error.Message());
        return cutRewritePending;
    } catch (...) {
        // The message as the installer's error box shows it.
        ReportCurrentError(&PrintError);
    }
    return failed;
}

// A write to an output that failed (a full disk, a closed pipe) fails the run, whatever the
// profile's fate was: the caller would otherwise take a lost report for a good one.
int WithOutputsChecked(int code) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        PrintError(FileWriteError().Message());
        code = failed;
    }
    if (std::fflush(stderr) != 0 || std::ferror(stderr) != 0) {
        code = failed;
    }
    return code;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    // Texts go out as UTF-8 bytes with LF, the same on every system.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<Text> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    }
    return WithOutputsChecked(Run(arguments));
}
#else
int main(int argc, char** argv) {
    std::vector<Text> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(NameFromBytes(argv[i]));
    }
    return WithOutputsChecked(Run(arguments));
}
#endif
