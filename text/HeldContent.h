#pragma once

// The new content of a file that is written in place, held in memory until then in the pieces it
// came in: it costs its own size and no more, where one growing buffer would cost up to twice.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.h"

namespace platform {

class HeldContent {
  public:
    void Append(std::string piece) {
        size_ += piece.size();
        pieces_.push_back(std::move(piece));
    }
    std::uint64_t Size() const { return size_; }

    // Hands `write` the bytes from `begin` to `end`, piece by piece, each with its offset in the
    // content; stops at the first error and returns it.
    template <class Write>
    ErrorCode ForEachPiece(std::uint64_t begin, std::uint64_t end, Write write) const {
        std::uint64_t at = 0;
        for (const std::string& piece : pieces_) {
            const std::uint64_t pieceEnd = at + piece.size();
            if (pieceEnd > begin && at < end) {
                const std::uint64_t from = begin > at ? begin : at;
                const std::uint64_t to = end < pieceEnd ? end : pieceEnd;
                const std::string_view bytes(piece.data() + (from - at), to - from);
                if (const ErrorCode code = write(bytes, from); code != noError) {
                    return code;
                }
            }
            at = pieceEnd;
        }
        return noError;
    }

  private:
    std::vector<std::string> pieces_;
    std::uint64_t size_ = 0;
};

}  // namespace platform
