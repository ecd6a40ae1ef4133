// Any bytes as a profile: loading, rewriting and saving must never crash, and what a rewrite
// saves must load again and be left as it is by a second rewrite.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "profile/ProfileRewrite.h"
#include "text/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    LineList profile;
    try {
        profile.LoadBytes(bytes);
        RewriteProfile(profile);
    } catch (const Error&) {
        return 0;
    }
    const std::string saved = profile.SaveBytes();

    LineList again;
    again.LoadBytes(saved);
    RewriteProfile(again);
    if (again.SaveBytes() != saved) {
        std::abort();
    }
    return 0;
}
