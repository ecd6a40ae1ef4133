#pragma once

// The new content of a file that is rewritten in place, held in memory until then in the pieces
// it came in: it costs its own size and no more, where one growing buffer would cost up to twice.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace file {

class HeldBytes {
  public:
    void Append(std::string piece) {
        size_ += piece.size();
        pieces_.push_back(std::move(piece));
    }
    std::uint64_t Size() const { return size_; }

    // Hands `use` the bytes from `begin` to `end`, piece by piece, each with its offset.
    template <class Use>
    void ForEachPiece(std::uint64_t begin, std::uint64_t end, Use use) const {
        std::uint64_t at = 0;
        for (const std::string& piece : pieces_) {
            const std::uint64_t pieceEnd = at + piece.size();
            if (pieceEnd > begin && at < end) {
                const std::uint64_t from = begin > at ? begin : at;
                const std::uint64_t to = end < pieceEnd ? end : pieceEnd;
                use(std::string_view(piece.data() + (from - at), to - from), from);
            }
            at = pieceEnd;
        }
    }

  private:
    std::vector<std::string> pieces_;
    std::uint64_t size_ = 0;
};

}  // namespace file
