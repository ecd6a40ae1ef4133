#include "LineList.h"

#include <algorithm>
#include <cstring>

#include "Codec.h"
#include "Error.h"
#include "FileBytes.h"
#include "Platform.h"

namespace {

// Saved text is handed to the file in blocks of about this size.
constexpr std::size_t blockSize = 4 << 20;
// Runs of unchanged lines at least this long are written straight from the loaded bytes.
constexpr std::size_t directRunSize = 64 << 10;

Text FileSystemText(platform::ErrorCode code) {
    return TrimSystemText(platform::SystemErrorText(code));
}

// Writes a block: a first write that fails or falls short is followed by writes of the remainder,
// and a remainder's write that fails or writes nothing ends it.
void WriteBlock(platform::FileReplacement& file, std::string_view block) {
    if (block.empty()) {
        return;
    }
    std::size_t written = 0;
    file.Write(block.data(), block.size(), written);
    block.remove_prefix(written);
    while (!block.empty()) {
        const platform::ErrorCode code = file.Write(block.data(), block.size(), written);
        if (code != platform::noError) {
            throw FileWriteError(FileSystemText(code));
        }
        if (written == 0) {
            throw FileWriteError();
        }
        block.remove_prefix(written);
    }
}

bool IsUtf16(TextEncoding encoding) {
    return encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be;
}

// CR LF as the encoding writes it.
std::string_view LineBreak(TextEncoding encoding) {
    using namespace std::string_view_literals;
    switch (encoding) {
        case TextEncoding::Utf16Le:
            return "\r\0\n\0"sv;
        case TextEncoding::Utf16Be:
            return "\0\r\0\n"sv;
        default:
            return "\r\n"sv;
    }
}

Text DecodeText(std::string_view bytes, TextEncoding encoding) {
    Text text;
    switch (encoding) {
        case TextEncoding::Utf8:
            platform::DecodeUtf8(bytes, text);
            break;
        case TextEncoding::Utf16Le:
            codec::DecodeUtf16(bytes, false, text);
            break;
        case TextEncoding::Utf16Be:
            codec::DecodeUtf16(bytes, true, text);
            break;
        case TextEncoding::SystemCodePage:
            platform::DecodeSystemCodePage(bytes, text);
            break;
    }
    return text;
}

void EncodeText(TextView text, TextEncoding encoding, std::string& bytes) {
    switch (encoding) {
        case TextEncoding::Utf8:
            platform::EncodeUtf8(text, bytes);
            break;
        case TextEncoding::Utf16Le:
            codec::EncodeUtf16(text, false, bytes);
            break;
        case TextEncoding::Utf16Be:
            codec::EncodeUtf16(text, true, bytes);
            break;
        case TextEncoding::SystemCodePage:
            platform::EncodeSystemCodePage(text, bytes);
            break;
    }
}

// Whether decoding a loaded line and encoding it again gives its bytes back, so that unchanged
// lines can be written as they were read: always for valid UTF-8 and for UTF-16; for the system
// code page where every byte maps to a character and back.
bool BytesComeBack(TextEncoding encoding) {
    return encoding != TextEncoding::SystemCodePage || platform::SystemCodePageRoundTrips();
}

// The bytes of `text` that stand for it wherever it occurs in the loaded bytes, when a search in
// the bytes finds exactly the lines whose text holds it.
std::optional<std::string> SearchableBytes(TextView text, TextEncoding encoding) {
    if (!BytesComeBack(encoding) || text.empty()) {
        return std::nullopt;
    }
    std::string bytes;
    EncodeText(text, encoding, bytes);
    // A lone surrogate or a character outside the code page does not come back as itself.
    if (DecodeText(bytes, encoding) != text) {
        return std::nullopt;
    }
    return bytes;
}

// Finds the next CR or LF code unit at or after `p`: `unit` is the byte value, and in UTF-16 the
// unit must start at an even distance from `text` with a zero byte beside it.
const char* FindUnit(const char* text, const char* p, const char* end, char unit,
                     TextEncoding encoding) {
    while (p < end) {
        const auto* hit = static_cast<const char*>(std::memchr(p, unit, end - p));
        if (hit == nullptr) {
            return end;
        }
        const std::size_t at = static_cast<std::size_t>(hit - text);
        if (encoding == TextEncoding::Utf16Le) {
            if (at % 2 == 0 && hit + 1 < end && hit[1] == 0) {
                return hit;
            }
        } else if (encoding == TextEncoding::Utf16Be) {
            if (at % 2 == 1 && hit[-1] == 0) {
                return hit - 1;
            }
        } else {
            return hit;
        }
        p = hit + 1;
    }
    return end;
}

// The first place of `needle` in `bytes` at or after `at`. Candidates are found by their first
// byte, and the rest is compared in line: in XML the first byte of a tag, "<", is on every line,
// and most candidates fail at their second or third byte.
std::size_t Search(std::string_view bytes, std::string_view needle, std::size_t at) {
    while (at + needle.size() <= bytes.size()) {
        const auto* hit = static_cast<const char*>(
            std::memchr(bytes.data() + at, needle[0], bytes.size() - needle.size() + 1 - at));
        if (hit == nullptr) {
            return std::string_view::npos;
        }
        std::size_t i = 1;
        while (i < needle.size() && hit[i] == needle[i]) {
            ++i;
        }
        at = static_cast<std::size_t>(hit - bytes.data());
        if (i == needle.size()) {
            return at;
        }
        ++at;
    }
    return std::string_view::npos;
}

// Whether the bytes at `at` are the line break; written out since it is asked for every line.
bool HasBreakAt(std::string_view bytes, std::size_t at, std::string_view lineBreak) {
    if (bytes.size() - at < lineBreak.size()) {
        return false;
    }
    for (std::size_t i = 0; i < lineBreak.size(); ++i) {
        if (bytes[at + i] != lineBreak[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

LineList::LineList() = default;
LineList::LineList(LineList&&) noexcept = default;
LineList& LineList::operator=(LineList&&) noexcept = default;
LineList::~LineList() = default;

void LineList::CheckIndex(std::int32_t index, std::int32_t upperBound) const {
    if (index < 0 || index > upperBound) {
        throw LineIndexError(index, upperBound);
    }
}

LineList::Line LineList::Own(TextView text) {
    owned_.emplace_back(text);
    return Line{owned_.size() - 1, text.size(), true};
}

Text LineList::GetLine(std::int32_t index) const {
    CheckIndex(index, LineCount() - 1);
    const Line& line = lines_[static_cast<std::size_t>(index)];
    if (line.owned) {
        return owned_[line.offset];
    }
    return DecodeText(std::string_view(bytes_).substr(line.offset, line.size), *encoding_);
}

void LineList::ReplaceLine(std::int32_t index, TextView text) {
    CheckIndex(index, LineCount() - 1);
    lines_[static_cast<std::size_t>(index)] = Own(text);
}

void LineList::InsertLine(std::int32_t index, TextView text) {
    CheckIndex(index, LineCount());
    lines_.insert(lines_.begin() + index, Own(text));
}

void LineList::DeleteLines(std::int32_t index, std::int32_t count) {
    CheckIndex(index, LineCount() - 1);
    CheckIndex(index + count - 1, LineCount() - 1);
    lines_.erase(lines_.begin() + index, lines_.begin() + index + count);
}

std::int32_t LineList::FindLine(std::int32_t from, TextView text) const {
    const std::optional<std::string> pattern =
        encoding_ ? SearchableBytes(text, *encoding_) : std::nullopt;
    const std::string_view bytes = bytes_;
    const auto search = [&](std::size_t at) { return Search(bytes, *pattern, at); };
    // The next place of the pattern in the loaded bytes; loaded lines keep their order, so one
    // search serves every line up to it.
    std::size_t next = 0;
    bool searched = false;
    for (std::int32_t i = std::max(from, 0); i < LineCount(); ++i) {
        const Line& line = lines_[static_cast<std::size_t>(i)];
        if (line.owned) {
            if (owned_[line.offset].find(text) != Text::npos) {
                return i;
            }
        } else if (pattern) {
            if (!searched || (next != std::string_view::npos && next < line.offset)) {
                next = search(line.offset);
                // In UTF-16 a match must start on a code unit.
                while (next != std::string_view::npos && IsUtf16(*encoding_) &&
                       (next - line.offset) % 2 != 0) {
                    next = search(next + 1);
                }
                searched = true;
            }
            if (next == std::string_view::npos) {
                // Only texts of their own may still hold it.
                continue;
            }
            if (next + pattern->size() <= line.offset + line.size) {
                return i;
            }
        } else if (GetLine(i).find(text) != Text::npos) {
            return i;
        }
    }
    return LineCount();
}

void LineList::Load(std::string bytes) {
    const std::string_view head = bytes;
    std::size_t markSize = 0;
    TextEncoding encoding = TextEncoding::SystemCodePage;
    if (head.starts_with("\xEF\xBB\xBF")) {
        encoding = TextEncoding::Utf8, markSize = 3;
    } else if (head.starts_with("\xFF\xFE")) {
        encoding = TextEncoding::Utf16Le, markSize = 2;
    } else if (head.starts_with("\xFE\xFF")) {
        encoding = TextEncoding::Utf16Be, markSize = 2;
    }
    std::string_view text = head.substr(markSize);
    // Bytes that give no character at all are not a text of this encoding.
    const bool invalid = IsUtf16(encoding)
                             ? text.size() == 1
                             : encoding == TextEncoding::Utf8 && !platform::ValidUtf8(text);
    if (invalid) {
        // The lines stay, but the detected encoding is remembered: lines still read from the old
        // bytes take their texts with them first.
        for (Line& line : lines_) {
            if (!line.owned) {
                line = Own(DecodeText(std::string_view(bytes_).substr(line.offset, line.size),
                                      *encoding_));
            }
        }
        encoding_ = encoding;
        throw EncodingError();
    }
    encoding_ = encoding;
    if (IsUtf16(encoding)) {
        text.remove_suffix(text.size() % 2);
    }

    // CR LF, a lone CR and a lone LF each end a line; a break at the very end adds no empty line.
    std::vector<Line> lines;
    const std::size_t unit = IsUtf16(encoding) ? 2 : 1;
    const char* const start = text.data();
    const char* const end = start + text.size();
    const char* nextCr = nullptr;
    const char* nextLf = nullptr;
    for (const char* p = start; p < end;) {
        // Each search runs once past every break, so that splitting stays linear.
        if (nextCr == nullptr || nextCr < p) {
            nextCr = FindUnit(start, p, end, '\r', encoding);
        }
        if (nextLf == nullptr || nextLf < p) {
            nextLf = FindUnit(start, p, end, '\n', encoding);
        }
        const char* const stop = std::min(nextCr, nextLf);
        lines.push_back(Line{static_cast<std::size_t>(p - head.data()),
                             static_cast<std::size_t>(stop - p), false});
        p = stop;
        if (p < end && p == nextCr) {
            p += unit;
        }
        if (p < end && p == nextLf) {
            p += unit;
        }
    }
    lines_ = std::move(lines);
    owned_.clear();
    bytes_ = std::move(bytes);
}

void LineList::LoadBytes(std::string_view bytes) {
    Load(std::string(bytes));
}

void LineList::LoadFile(TextView path) {
    Load(ReadFileBytes(path));
}

void LineList::Encode(const std::function<void(std::string_view)>& sink) const {
    const TextEncoding encoding = encoding_.value_or(TextEncoding::SystemCodePage);
    const std::string_view lineBreak = LineBreak(encoding);
    const std::string_view bytes = bytes_;
    const bool copyUnchanged = BytesComeBack(encoding);
    sink(ByteOrderMark(encoding));

    std::string block;
    // Unchanged lines whose break was already CR LF stand as one run of the loaded bytes.
    std::size_t runStart = 0;
    std::size_t runEnd = 0;
    const auto flushRun = [&] {
        const std::string_view run = bytes.substr(runStart, runEnd - runStart);
        if (run.size() >= directRunSize) {
            sink(block);
            block.clear();
            sink(run);
        } else {
            block.append(run);
        }
        runStart = runEnd = 0;
    };
    for (const Line& line : lines_) {
        if (!line.owned && copyUnchanged) {
            const std::size_t lineEnd = line.offset + line.size;
            if (HasBreakAt(bytes, lineEnd, lineBreak)) {
                if (runEnd != line.offset) {
                    flushRun();
                    runStart = line.offset;
                }
                runEnd = lineEnd + lineBreak.size();
                continue;
            }
            flushRun();
            block.append(bytes.substr(line.offset, line.size));
        } else {
            flushRun();
            if (line.owned) {
                EncodeText(owned_[line.offset], encoding, block);
            } else {
                EncodeText(DecodeText(bytes.substr(line.offset, line.size), encoding), encoding,
                           block);
            }
        }
        block.append(lineBreak);
        if (block.size() >= blockSize) {
            sink(block);
            block.clear();
        }
    }
    flushRun();
    sink(block);
}

std::string LineList::SaveBytes() const {
    std::string bytes;
    Encode([&bytes](std::string_view block) { bytes.append(block); });
    return bytes;
}

void LineList::SaveFile(TextView path) const {
    platform::FileReplacement file;
    platform::ErrorCode code = file.Open(path);
    if (code != platform::noError) {
        throw FileCreateError(platform::FullPath(path), FileSystemText(code));
    }
    Encode([&file](std::string_view block) { WriteBlock(file, block); });
    code = file.Flush();
    if (code != platform::noError) {
        throw FileWriteError(FileSystemText(code));
    }
    code = file.Commit();
    if (code != platform::noError) {
        throw FileCreateError(platform::FullPath(path), FileSystemText(code));
    }
}
