#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Text.h"
#include "TextEncoding.h"

// A loaded text searched in its own bytes, without decoding it. Places are byte offsets from the
// start of the text, always at the start of a code unit.
//
// Only ASCII is sought, and in every encoding that the line list reads, a character below 0x40
// (a line break, a blank, "<", ">", "/") is one code unit that is never part of another
// character: a byte of its own in UTF-8 and in the ANSI code pages (whose trail bytes are 0x40 or
// more), a 16-bit unit in UTF-16. Tags begin with "<", so the ASCII letters after it are
// characters of their own too, as no ASCII letter leads a double-byte character.
class EncodedText {
  public:
    EncodedText(std::string_view bytes, TextEncoding encoding);

    std::string_view Bytes() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }
    // 1, or 2 in UTF-16.
    std::size_t UnitSize() const { return unitSize_; }
    // The size in bytes of an ASCII text in this encoding.
    std::size_t SizeOf(TextView ascii) const { return ascii.size() * unitSize_; }

    char16_t UnitAt(std::size_t at) const {
        const auto byte = [this](std::size_t i) { return static_cast<unsigned char>(bytes_[i]); };
        if (unitSize_ == 1) {
            return byte(at);
        }
        return bigEndian_ ? static_cast<char16_t>(byte(at) << 8 | byte(at + 1))
                          : static_cast<char16_t>(byte(at + 1) << 8 | byte(at));
    }
    bool IsBreakAt(std::size_t at) const { return UnitAt(at) == u'\r' || UnitAt(at) == u'\n'; }
    // Whether the ASCII text `ascii` stands at `at`.
    bool HasAt(std::size_t at, TextView ascii) const;
    // Whether every unit from `from` to `to` is a blank (space or tab).
    bool IsBlank(std::size_t from, std::size_t to) const;

    // The first unit from `from` to `to` that is `a` or `b`; `to` when there is none.
    std::size_t Find(std::size_t from, std::size_t to, char16_t a, char16_t b) const;
    // Copies the units from `from` towards `to` to `out`, which has `room` bytes, with every line
    // break made CR LF: a lone CR or LF gains the other, a CR LF stays. It copies as much as
    // surely fits, finding the breaks and copying the lines in one pass, and a CR LF is never
    // split. Returns where it stopped; `written` gets the bytes written.
    std::size_t CopyWithCrLf(std::size_t from, std::size_t to, char* out, std::size_t room,
                             std::size_t& written) const;
    // The last unit from `from` to `to` that is `a` or `b`; `to` when there is none.
    std::size_t FindLast(std::size_t from, std::size_t to, char16_t a, char16_t b) const;
    // The first place at or after `from` of the ASCII text `first` or `second`, which begin with
    // the same two characters or differ in their second; Size() when there is none.
    std::size_t FindEither(std::size_t from, TextView first, TextView second) const;

    // Line breaks: CR LF, a lone CR or a lone LF.
    // Where the line holding `at` ends: its break, or the end of the text.
    std::size_t LineEnd(std::size_t at) const { return Find(at, Size(), u'\r', u'\n'); }
    // Where the line holding `at` starts, looking back no further than `floor` (a line start).
    std::size_t LineStart(std::size_t at, std::size_t floor) const;
    // Where the line after the break at `lineEnd` starts.
    std::size_t AfterBreak(std::size_t lineEnd) const {
        if (lineEnd >= Size()) {
            return Size();
        }
        const std::size_t next = lineEnd + unitSize_;
        const bool crLf = UnitAt(lineEnd) == u'\r' && next < Size() && UnitAt(next) == u'\n';
        return crLf ? next + unitSize_ : next;
    }

    struct Breaks {
        std::uint64_t count = 0;
        bool allCrLf = true;  // every break is CR LF
    };
    Breaks CountBreaks(std::size_t from, std::size_t to) const;
    // Whether every line break of the whole text is CR LF: CountBreaks(0, Size()).allCrLf,
    // found in fewer steps, and at the first lone break.
    bool OnlyCrLf() const;

  private:
    std::string_view bytes_;
    std::size_t unitSize_;
    bool bigEndian_;
};
