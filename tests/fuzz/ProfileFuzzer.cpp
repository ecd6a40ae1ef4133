// Any bytes as a profile: loading, rewriting and saving must never crash; a line that holds
// markup but no tag of the two elements must come out as it went in; what a rewrite saves must load
// again as the lines it had, and be left as it is by a second rewrite.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "profile/ProfileRewrite.h"
#include "text/Error.h"

namespace {

// The lines with a "<" that is not one of the elements' tags: no element can span them, so the
// rewrite must keep them.
std::vector<Text> UntouchableLines(const LineList& profile) {
    std::vector<Text> lines;
    for (std::int32_t i = 0; i < profile.LineCount(); ++i) {
        const Text line = profile.GetLine(i);
        bool tagged = false;
        for (const TextView tag :
             {u"<mapfiles>", u"</mapfiles>", u"<showraster>", u"</showraster>"}) {
            tagged = tagged || line.find(tag) != Text::npos;
        }
        if (!tagged && line.find(u'<') != Text::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    LineList profile;
    std::vector<Text> untouchable;
    try {
        profile.LoadBytes(bytes);
        untouchable = UntouchableLines(profile);
        RewriteProfile(profile);
    } catch (const Error&) {
        return 0;
    }
    std::size_t kept = 0;
    for (std::int32_t i = 0; i < profile.LineCount() && kept < untouchable.size(); ++i) {
        kept += profile.GetLine(i) == untouchable[kept] ? 1 : 0;
    }
    if (kept != untouchable.size()) {
        std::abort();
    }
    const std::string saved = profile.SaveBytes();

    // The lines as read and as saved agree: they are found by separate walks over the edits.
    LineList again;
    again.LoadBytes(saved);
    if (again.LineCount() != profile.LineCount()) {
        std::abort();
    }
    for (std::int32_t i = 0; i < again.LineCount(); ++i) {
        if (again.GetLine(i) != profile.GetLine(i)) {
            std::abort();
        }
    }
    RewriteProfile(again);
    if (again.SaveBytes() != saved) {
        std::abort();
    }
    return 0;
}
