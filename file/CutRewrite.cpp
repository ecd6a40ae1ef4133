#include "CutRewrite.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace file {
namespace {

constexpr std::size_t pieceSize = 1 << 20;

// The old bytes as the file may hold them: zeros past their end, up to the larger size.
class OldWithRoom {
  public:
    explicit OldWithRoom(const ByteRange& old) : old_(old) {}
    void Read(std::uint64_t offset, std::span<char> bytes) const {
        const std::uint64_t stored =
            offset < old_.size ? std::min<std::uint64_t>(old_.size - offset, bytes.size()) : 0;
        if (stored > 0) {
            old_.read(offset, bytes.first(stored));
        }
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(stored), bytes.end(), '\0');
    }

  private:
    const ByteRange& old_;
};

// How many bytes from `from` on, up to `end`, the file shares with `other`.
template <class Other>
std::uint64_t CommonRun(const ByteRange& file, const Other& other, std::uint64_t from,
                        std::uint64_t end) {
    std::vector<char> mine(pieceSize);
    std::vector<char> theirs(pieceSize);
    for (std::uint64_t at = from; at < end;) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(end - at, pieceSize));
        file.read(at, std::span(mine.data(), piece));
        other.Read(at, std::span(theirs.data(), piece));
        const auto differ = std::mismatch(
            mine.begin(), mine.begin() + static_cast<std::ptrdiff_t>(piece), theirs.begin());
        if (differ.first != mine.begin() + static_cast<std::ptrdiff_t>(piece)) {
            return at + static_cast<std::uint64_t>(differ.first - mine.begin()) - from;
        }
        at += piece;
    }
    return end - from;
}

struct Plain {
    const ByteRange& range;
    void Read(std::uint64_t offset, std::span<char> bytes) const { range.read(offset, bytes); }
};

}  // namespace

CutRewriteState ClassifyCutRewrite(const ByteRange& file, const ByteRange& oldBytes,
                                   const ByteRange& newBytes) {
    const std::uint64_t larger = std::max(oldBytes.size, newBytes.size);
    if (file.size != oldBytes.size && file.size != newBytes.size && file.size != larger) {
        return CutRewriteState::Changed;
    }
    const OldWithRoom old(oldBytes);
    // Where old bytes end and new ones begin, and where they end in turn, may be taken as late as
    // the bytes allow: a byte that both agree on belongs to either.
    const std::uint64_t oldEnd = CommonRun(file, old, 0, file.size);
    if (oldEnd == file.size && file.size == oldBytes.size) {
        return CutRewriteState::Old;
    }
    const std::uint64_t newLimit = std::min(file.size, newBytes.size);
    const std::uint64_t newEnd =
        oldEnd > newLimit ? oldEnd : oldEnd + CommonRun(file, Plain{newBytes}, oldEnd, newLimit);
    if (newEnd == file.size && file.size == newBytes.size &&
        CommonRun(file, Plain{newBytes}, 0, oldEnd) == oldEnd) {
        return CutRewriteState::New;
    }
    return CommonRun(file, old, newEnd, file.size) == file.size - newEnd ? CutRewriteState::Cut
                                                                         : CutRewriteState::Changed;
}

}  // namespace file
