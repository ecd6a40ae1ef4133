#pragma once

// What a file holds after a rewrite in place of its old bytes by new ones was cut short, told
// from its bytes alone: no clock, no mark that another program could set, decides it.
//
// A rewrite in place reserves the room for the new bytes (a longer file reads zeros past the old
// end), writes the new bytes from the start, then sets the new size; putting the old bytes back
// writes them from the start over that, then sets the old size. Cut anywhere in either, the file
// holds the old bytes up to some point, then new ones up to a later point, then the old bytes
// (zeros past their end), in one of the sizes that the steps leave. Nothing else can come from
// them: any other content is another program's change.

#include <cstdint>
#include <functional>
#include <span>

namespace file {

enum class CutRewriteState {
    Old,      // the old bytes, exactly: nothing to put back
    New,      // the new bytes, exactly: the rewrite was whole
    Cut,      // old and new bytes as a cut rewrite or restore leaves them: the old go back
    Changed,  // anything else: another program's change, which no old bytes may undo
};

// Fills the span with the bytes from the offset on; every byte asked for exists.
using ByteSource = std::function<void(std::uint64_t offset, std::span<char> bytes)>;

struct ByteRange {
    ByteSource read;
    std::uint64_t size = 0;
};

CutRewriteState ClassifyCutRewrite(const ByteRange& file, const ByteRange& oldBytes,
                                   const ByteRange& newBytes);

}  // namespace file
