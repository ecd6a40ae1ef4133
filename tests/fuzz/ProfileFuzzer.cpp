// Any bytes as a profile: loading, rewriting and saving must never crash; a line that holds
// markup but no tag of the two elements must come out as it went in; what a rewrite saves must load
// again as as many lines as the list counted, and be left as it is by a second rewrite.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "profile/ProfileRewrite.h"
#include "tests/support/SavedLines.h"
#include "text/Error.h"

namespace {

// Whether a line has a "<" that is not one of the elements' tags: no element can span it, so the
// rewrite must keep it.
bool Untouchable(const Text& line) {
    for (const TextView tag : {u"<mapfiles>", u"</mapfiles>", u"<showraster>", u"</showraster>"}) {
        if (line.find(tag) != Text::npos) {
            return false;
        }
    }
    return line.find(u'<') != Text::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    LineList profile;
    std::vector<Text> untouchable;
    try {
        profile.LoadBytes(bytes);
        for (Text& line : SavedLines(profile)) {
            if (Untouchable(line)) {
                untouchable.push_back(std::move(line));
            }
        }
        RewriteProfile(profile);
    } catch (const Error&) {
        return 0;
    }
    const std::string saved = profile.SaveBytes();
    const std::vector<Text> lines = SavedLines(saved);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < lines.size() && kept < untouchable.size(); ++i) {
        kept += lines[i] == untouchable[kept] ? 1 : 0;
    }
    if (kept != untouchable.size()) {
        std::abort();
    }

    // The count that the edits kept agrees with the lines saved and loaded again.
    LineList again;
    again.LoadBytes(saved);
    if (static_cast<std::size_t>(profile.LineCount()) != lines.size() ||
        again.LineCount() != profile.LineCount()) {
        std::abort();
    }
    RewriteProfile(again);
    if (again.SaveBytes() != saved) {
        std::abort();
    }
    return 0;
}
