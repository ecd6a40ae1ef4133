#include "EncodedText.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// The searches compare 16 bytes at a time, as lanes of one code unit, with the compiler's vector
// types (GCC and Clang); a word of a vector is read as the host's order, which is little-endian.
static_assert(std::endian::native == std::endian::little);

constexpr std::size_t vectorSize = 16;

// 32-bit x86 without SSE2 (the oldest processors that Windows XP runs on) has no vector unit: the
// compiler would emulate the vectors in far more code than the plain loops that follow each one.
#if defined(__i386__) && !defined(__SSE2__)
constexpr bool vectorsServe = false;
#else
constexpr bool vectorsServe = true;
#endif

template <typename Lane>
struct VectorOf {
    typedef Lane Type __attribute__((vector_size(vectorSize)));
};
template <typename Lane>
using Vector = typename VectorOf<Lane>::Type;

// Vectors go by reference, never by value: without SSE (32-bit x86) a vector passed or returned
// by value would change the calling convention.
template <typename Lane>
void Load(Vector<Lane>& vector, const char* at) {
    std::memcpy(&vector, at, vectorSize);
}

template <typename Lane>
Lane LoadUnit(const char* at) {
    Lane unit;
    std::memcpy(&unit, at, sizeof unit);
    return unit;
}

// A comparison's lanes, all ones where it holds: subtracted from a count, they add one.
template <typename Lane, typename Comparison>
void CountLanes(Vector<Lane>& counts, const Comparison& comparison) {
    Vector<Lane> lanes;
    std::memcpy(&lanes, &comparison, vectorSize);
    counts -= lanes;
}

// The lanes of a comparison that matched, as the top bit of each lane in two words.
struct Matches {
    std::uint64_t low;
    std::uint64_t high;

    bool Any() const { return (low | high) != 0; }
};

template <typename Lane, typename Comparison>
Matches MatchesOf(const Comparison& comparison) {
    constexpr std::uint64_t topBits = sizeof(Lane) == 1 ? 0x8080808080808080u : 0x8000800080008000u;
    Matches matches;
    std::memcpy(&matches.low, &comparison, 8);
    std::memcpy(&matches.high, reinterpret_cast<const char*>(&comparison) + 8, 8);
    matches.low &= topBits;
    matches.high &= topBits;
    return matches;
}

// The byte offset of the first matching lane.
template <typename Lane>
std::size_t FirstMatch(const Matches& matches) {
    const std::size_t byte = matches.low != 0 ? std::countr_zero(matches.low) / 8
                                              : 8 + std::countr_zero(matches.high) / 8;
    return byte / sizeof(Lane) * sizeof(Lane);
}

template <typename Lane>
std::size_t LastMatch(const Matches& matches) {
    const std::size_t byte = matches.high != 0 ? 15 - std::countl_zero(matches.high) / 8
                                               : 7 - std::countl_zero(matches.low) / 8;
    return byte / sizeof(Lane) * sizeof(Lane);
}

// Clears the first matching lane.
void DropFirst(Matches& matches) {
    if (matches.low != 0) {
        matches.low &= matches.low - 1;
    } else {
        matches.high &= matches.high - 1;
    }
}

// The first unit from `from` to `to` that is `a` or `b`. Given `copy`, it copies what it passes
// over there as it goes, from the same loads.
template <typename Lane>
std::size_t FindIn(const char* data, std::size_t from, std::size_t to, Lane a, Lane b,
                   char* copy = nullptr) {
    std::size_t at = from;
    for (; vectorsServe && to - at >= vectorSize; at += vectorSize) {
        Vector<Lane> units;
        Load<Lane>(units, data + at);
        if (copy != nullptr) {
            // Stored whole even when a match ends the copy: the vector lies before `to`.
            std::memcpy(copy + (at - from), &units, vectorSize);
        }
        const Matches matches = MatchesOf<Lane>((units == a) | (units == b));
        if (matches.Any()) {
            return at + FirstMatch<Lane>(matches);
        }
    }
    for (; at < to; at += sizeof(Lane)) {
        const Lane unit = LoadUnit<Lane>(data + at);
        if (unit == a || unit == b) {
            return at;
        }
        if (copy != nullptr) {
            std::memcpy(copy + (at - from), &unit, sizeof unit);
        }
    }
    return to;
}

template <typename Lane>
std::size_t FindLastIn(const char* data, std::size_t from, std::size_t to, Lane a, Lane b) {
    std::size_t at = to;
    for (; vectorsServe && at - from >= vectorSize;) {
        at -= vectorSize;
        Vector<Lane> units;
        Load<Lane>(units, data + at);
        const Matches matches = MatchesOf<Lane>((units == a) | (units == b));
        if (matches.Any()) {
            return at + LastMatch<Lane>(matches);
        }
    }
    while (at > from) {
        at -= sizeof(Lane);
        const Lane unit = LoadUnit<Lane>(data + at);
        if (unit == a || unit == b) {
            return at;
        }
    }
    return to;
}

// Candidates are the places of the first unit followed by one of the second units; `isMatch`
// tells whether a candidate is a match.
template <typename Lane, typename IsMatch>
std::size_t FindPairIn(const char* data, std::size_t from, std::size_t size, Lane first,
                       Lane secondA, Lane secondB, const IsMatch& isMatch) {
    std::size_t at = from;
    for (; vectorsServe && size - at >= vectorSize + sizeof(Lane); at += vectorSize) {
        Vector<Lane> units;
        Load<Lane>(units, data + at);
        Vector<Lane> next;
        Load<Lane>(next, data + at + sizeof(Lane));
        Matches matches =
            MatchesOf<Lane>((units == first) & ((next == secondA) | (next == secondB)));
        for (; matches.Any(); DropFirst(matches)) {
            if (isMatch(at + FirstMatch<Lane>(matches))) {
                return at + FirstMatch<Lane>(matches);
            }
        }
    }
    for (; at < size; at += sizeof(Lane)) {
        if (isMatch(at)) {
            return at;
        }
    }
    return size;
}

template <typename Lane>
EncodedText::Breaks CountIn(const char* data, std::size_t from, std::size_t to, Lane cr, Lane lf) {
    std::uint64_t crs = 0;
    std::uint64_t lfs = 0;
    std::uint64_t pairs = 0;  // CR LF
    std::size_t at = from;
    // Each lane counts up to 255 before the counts are added up.
    while (vectorsServe && to - at >= vectorSize + sizeof(Lane)) {
        Vector<Lane> crCounts{};
        Vector<Lane> lfCounts{};
        Vector<Lane> pairCounts{};
        for (int round = 0; round < 255 && to - at >= vectorSize + sizeof(Lane);
             ++round, at += vectorSize) {
            Vector<Lane> units;
            Load<Lane>(units, data + at);
            Vector<Lane> next;
            Load<Lane>(next, data + at + sizeof(Lane));
            const auto isCr = units == cr;
            CountLanes<Lane>(crCounts, isCr);
            CountLanes<Lane>(lfCounts, units == lf);
            CountLanes<Lane>(pairCounts, isCr & (next == lf));
        }
        for (std::size_t lane = 0; lane < vectorSize / sizeof(Lane); ++lane) {
            crs += crCounts[lane];
            lfs += lfCounts[lane];
            pairs += pairCounts[lane];
        }
    }
    for (; at < to; at += sizeof(Lane)) {
        const Lane unit = LoadUnit<Lane>(data + at);
        if (unit == cr) {
            ++crs;
            if (to - at >= 2 * sizeof(Lane) && LoadUnit<Lane>(data + at + sizeof(Lane)) == lf) {
                ++pairs;
            }
        } else if (unit == lf) {
            ++lfs;
        }
    }
    return {crs + lfs - pairs, crs == pairs && lfs == pairs};
}

// Copies the units from `from` to `limit` to `out` with every line break made CR LF: a lone CR or
// LF gains the other, a CR LF stays. A CR just before `limit` takes its LF along when it lies
// before `to`. Returns where the copy stopped; `written` gets the bytes written, at most twice
// `limit` - `from`.
template <typename Lane>
std::size_t CopyWithCrLfIn(const char* data, std::size_t from, std::size_t limit, std::size_t to,
                           Lane cr, Lane lf, char* out, std::size_t& written) {
    constexpr std::size_t unit = sizeof(Lane);
    Vector<Lane> crLfs{};
    for (std::size_t lane = 0; vectorsServe && lane < vectorSize / unit; ++lane) {
        crLfs[lane] = lane % 2 == 0 ? cr : lf;
    }
    char* const start = out;
    std::size_t at = from;
    while (at < limit) {
        const std::size_t lineEnd = FindIn<Lane>(data, at, limit, cr, lf, out);
        out += lineEnd - at;
        at = lineEnd;
        // The breaks that follow, one by one, and a run of lone LF, as a text of nothing but
        // line breaks holds, sixteen bytes at a time.
        while (at < limit) {
            const Lane first = LoadUnit<Lane>(data + at);
            if (first != cr && first != lf) {
                break;
            }
            std::memcpy(out, &cr, unit);
            std::memcpy(out + unit, &lf, unit);
            out += 2 * unit;
            const bool crLf =
                first == cr && to - at >= 2 * unit && LoadUnit<Lane>(data + at + unit) == lf;
            at += crLf ? 2 * unit : unit;
            for (; vectorsServe && first == lf && limit - at >= vectorSize &&
                   LoadUnit<Lane>(data + at) == lf;
                 at += vectorSize) {
                Vector<Lane> units;
                Load<Lane>(units, data + at);
                if (MatchesOf<Lane>(units != lf).Any()) {
                    break;
                }
                std::memcpy(out, &crLfs, vectorSize);
                std::memcpy(out + vectorSize, &crLfs, vectorSize);
                out += 2 * vectorSize;
            }
        }
    }
    written = static_cast<std::size_t>(out - start);
    return at;
}

// Whether every CR is followed by an LF and every LF follows a CR: a CR at each place exactly where
// the next place holds an LF.
template <typename Lane>
bool OnlyCrLfIn(const char* data, std::size_t size, Lane cr, Lane lf) {
    std::size_t at = 0;
    if (size >= sizeof(Lane) && LoadUnit<Lane>(data) == lf) {
        return false;
    }
    for (; vectorsServe && size - at >= vectorSize + sizeof(Lane); at += vectorSize) {
        Vector<Lane> units;
        Load<Lane>(units, data + at);
        Vector<Lane> next;
        Load<Lane>(next, data + at + sizeof(Lane));
        if (MatchesOf<Lane>((units == cr) ^ (next == lf)).Any()) {
            return false;
        }
    }
    for (; at < size; at += sizeof(Lane)) {
        const Lane unit = LoadUnit<Lane>(data + at);
        const bool lfNext =
            size - at >= 2 * sizeof(Lane) && LoadUnit<Lane>(data + at + sizeof(Lane)) == lf;
        const bool crBefore = at > 0 && LoadUnit<Lane>(data + at - sizeof(Lane)) == cr;
        if ((unit == cr && !lfNext) || (unit == lf && !crBefore)) {
            return false;
        }
    }
    return true;
}

}  // namespace

EncodedText::EncodedText(std::string_view bytes, TextEncoding encoding)
    : bytes_(bytes),
      unitSize_(encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be ? 2 : 1),
      bigEndian_(encoding == TextEncoding::Utf16Be) {}

bool EncodedText::HasAt(std::size_t at, TextView ascii) const {
    if (at > Size() || Size() - at < SizeOf(ascii)) {
        return false;
    }
    for (const char16_t c : ascii) {
        if (UnitAt(at) != c) {
            return false;
        }
        at += unitSize_;
    }
    return true;
}

bool EncodedText::IsBlank(std::size_t from, std::size_t to) const {
    for (std::size_t at = from; at < to; at += unitSize_) {
        if (UnitAt(at) != u' ' && UnitAt(at) != u'\t') {
            return false;
        }
    }
    return true;
}

namespace {

// A character as a lane of the vectors holds it.
std::uint16_t Lane16(char16_t c, bool bigEndian) {
    return bigEndian ? static_cast<std::uint16_t>(c >> 8 | (c & 0xFF) << 8) : c;
}

}  // namespace

std::size_t EncodedText::Find(std::size_t from, std::size_t to, char16_t a, char16_t b) const {
    if (unitSize_ == 1) {
        return FindIn<std::uint8_t>(bytes_.data(), from, to, static_cast<std::uint8_t>(a),
                                    static_cast<std::uint8_t>(b));
    }
    return FindIn<std::uint16_t>(bytes_.data(), from, to, Lane16(a, bigEndian_),
                                 Lane16(b, bigEndian_));
}

std::size_t EncodedText::CopyWithCrLf(std::size_t from, std::size_t to, char* out, std::size_t room,
                                      std::size_t& written) const {
    const std::size_t limit = from + std::min(to - from, room / 2 / unitSize_ * unitSize_);
    if (unitSize_ == 1) {
        return CopyWithCrLfIn<std::uint8_t>(bytes_.data(), from, limit, to, '\r', '\n', out,
                                            written);
    }
    return CopyWithCrLfIn<std::uint16_t>(bytes_.data(), from, limit, to, Lane16(u'\r', bigEndian_),
                                         Lane16(u'\n', bigEndian_), out, written);
}

std::size_t EncodedText::FindLast(std::size_t from, std::size_t to, char16_t a, char16_t b) const {
    if (unitSize_ == 1) {
        return FindLastIn<std::uint8_t>(bytes_.data(), from, to, static_cast<std::uint8_t>(a),
                                        static_cast<std::uint8_t>(b));
    }
    return FindLastIn<std::uint16_t>(bytes_.data(), from, to, Lane16(a, bigEndian_),
                                     Lane16(b, bigEndian_));
}

std::size_t EncodedText::FindEither(std::size_t from, TextView first, TextView second) const {
    const auto isMatch = [&](std::size_t at) { return HasAt(at, first) || HasAt(at, second); };
    if (unitSize_ == 1) {
        return FindPairIn<std::uint8_t>(
            bytes_.data(), from, Size(), static_cast<std::uint8_t>(first[0]),
            static_cast<std::uint8_t>(first[1]), static_cast<std::uint8_t>(second[1]), isMatch);
    }
    return FindPairIn<std::uint16_t>(bytes_.data(), from, Size(), Lane16(first[0], bigEndian_),
                                     Lane16(first[1], bigEndian_), Lane16(second[1], bigEndian_),
                                     isMatch);
}

std::size_t EncodedText::LineStart(std::size_t at, std::size_t floor) const {
    const std::size_t lastBreak = FindLast(floor, at, u'\r', u'\n');
    return lastBreak == at ? floor : lastBreak + unitSize_;
}

EncodedText::Breaks EncodedText::CountBreaks(std::size_t from, std::size_t to) const {
    if (unitSize_ == 1) {
        return CountIn<std::uint8_t>(bytes_.data(), from, to, '\r', '\n');
    }
    return CountIn<std::uint16_t>(bytes_.data(), from, to, Lane16(u'\r', bigEndian_),
                                  Lane16(u'\n', bigEndian_));
}

bool EncodedText::OnlyCrLf() const {
    if (unitSize_ == 1) {
        return OnlyCrLfIn<std::uint8_t>(bytes_.data(), Size(), '\r', '\n');
    }
    return OnlyCrLfIn<std::uint16_t>(bytes_.data(), Size(), Lane16(u'\r', bigEndian_),
                                     Lane16(u'\n', bigEndian_));
}
