#include "LineList.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "Codec.h"
#include "Error.h"
#include "FileBytes.h"
#include "Platform.h"

namespace {

// Saved text is handed to the file in blocks that start at the first size, so that a small text
// costs no large block, and double after each one written up to the largest, which still stays in
// the processor's cache from its filling to its write (4 MB blocks made a rewrite that adds a CR
// to every line an eighth slower).
constexpr std::size_t firstBlockSize = 64 << 10;
constexpr std::size_t largestBlockSize = 256 << 10;
// Runs of loaded bytes at least this long go to the file straight from where they were read.
constexpr std::size_t directRunSize = 64 << 10;
// Loaded text whose breaks become CR LF goes into a block only while this much room is left in
// it, so that each copy moves kilobytes at least.
constexpr std::size_t minimumRoom = 4 << 10;

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

void DecodeText(std::string_view bytes, TextEncoding encoding, Text& text) {
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

// Whether decoding loaded bytes and encoding them again gives them back, so that unchanged lines
// can be written as they were read: always for valid UTF-8 and for UTF-16; for the system code
// page where every byte maps to a character and back.
bool BytesComeBack(TextEncoding encoding) {
    return encoding != TextEncoding::SystemCodePage || platform::SystemCodePageRoundTrips();
}

// A loaded text is checked, and its line breaks looked at, in pieces small enough to stay in the
// processor's cache from the one to the other, so that its memory is read once.
constexpr std::size_t scanPieceSize = 256 << 10;

struct TextScan {
    bool valid = true;
    bool onlyCrLf = true;
};

TextScan ScanText(const EncodedText& text, TextEncoding encoding) {
    const std::string_view bytes = text.Bytes();
    TextScan scan;
    for (std::size_t from = 0; from < bytes.size();) {
        std::size_t to = std::min(from + scanPieceSize, bytes.size());
        // A piece ends neither inside a UTF-8 sequence (whose first byte is at most three bytes
        // back) nor between a CR and its LF.
        for (int back = 0; back < 3 && encoding == TextEncoding::Utf8 && to < bytes.size() &&
                           (static_cast<unsigned char>(bytes[to]) & 0xC0) == 0x80;
             ++back) {
            --to;
        }
        if (to < bytes.size() && text.UnitAt(to - text.UnitSize()) == u'\r' &&
            text.UnitAt(to) == u'\n') {
            to += text.UnitSize();
        }
        const std::string_view piece = bytes.substr(from, to - from);
        if (encoding == TextEncoding::Utf8 && !platform::ValidUtf8(piece)) {
            scan.valid = false;
            return scan;
        }
        scan.onlyCrLf = scan.onlyCrLf && EncodedText(piece, encoding).OnlyCrLf();
        from = to;
    }
    return scan;
}

// The lines of a loaded text: CR LF, a lone CR and a lone LF each end a line, and a break at the
// very end adds no empty line.
std::uint64_t LinesOf(const EncodedText& text) {
    const bool lastLineOpen = text.Size() != 0 && !text.IsBreakAt(text.Size() - text.UnitSize());
    return text.CountBreaks(0, text.Size()).count + (lastLineOpen ? 1 : 0);
}

// Gathers saved bytes into blocks for a sink; long runs of loaded bytes go to it as they are.
class BlockWriter {
  public:
    explicit BlockWriter(const std::function<void(std::string_view)>& sink)
        : sink_(sink), block_(firstBlockSize) {}

    void Append(std::string_view bytes) {
        if (bytes.size() >= directRunSize) {
            Flush();
            sink_(bytes);
            return;
        }
        if (used_ + bytes.size() > block_.Size()) {
            FlushFull();
        }
        std::memcpy(block_.Data() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
    }
    // Appends the loaded units from `from` to `to` with every line break made CR LF.
    void AppendWithCrLf(const EncodedText& text, std::size_t from, std::size_t to) {
        while (from < to) {
            if (block_.Size() - used_ < minimumRoom) {
                FlushFull();
            }
            std::size_t written = 0;
            from =
                text.CopyWithCrLf(from, to, block_.Data() + used_, block_.Size() - used_, written);
            used_ += written;
        }
    }
    void Flush() {
        sink_(block_.View().substr(0, used_));
        used_ = 0;
    }

  private:
    void FlushFull() {
        Flush();
        if (block_.Size() < largestBlockSize) {
            block_ = ByteBuffer(block_.Size() * 2);
        }
    }

    const std::function<void(std::string_view)>& sink_;
    ByteBuffer block_;
    std::size_t used_ = 0;
};

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

EncodedText LineList::LoadedText() const {
    return EncodedText(buffer_.View().substr(markSize_, textSize_), loadedEncoding_);
}

std::int32_t LineList::LineCount() const {
    if (!loadedLines_) {
        loadedLines_ = static_cast<std::int32_t>(LinesOf(LoadedText()));
    }
    return static_cast<std::int32_t>(*loadedLines_ + linesAdded_);
}

LineList::LineStart LineList::FirstLine() const {
    return LineStart{0, 0, edits_.Begin()};
}

// A line runs from its start to the first line break that no edit takes away, or to the end of
// the text; an inserted line is its text alone.
LineList::LineStart LineList::NextLine(const LineStart& start) const {
    const EncodedText text = LoadedText();
    std::size_t at = start.at;
    EditList::Place place = start.edit;
    bool edited = false;
    for (;;) {
        const std::size_t lineEnd = text.LineEnd(at);
        const std::optional<Edit>& edit = place.edit;
        if (edit && edit->begin <= lineEnd) {
            if (edit->ownLine) {
                if (!edited && edit->begin == at) {
                    edits_.Advance(place);
                    return {start.index + 1, at, place};
                }
                // Lines are inserted at line starts, so this line is the last of a text without a
                // break at its end, and the inserted line follows it.
                return {start.index + 1, edit->begin, place};
            }
            at = edit->end;
            edited = true;
            edits_.Advance(place);
            continue;
        }
        return {start.index + 1, text.AfterBreak(lineEnd), place};
    }
}

LineList::LineStart LineList::FindLine(std::int32_t index) const {
    if (index == LineCount()) {
        return LineStart{index, textSize_, edits_.End()};
    }
    LineStart start = FirstLine();
    while (start.index < index) {
        start = NextLine(start);
    }
    return start;
}

LineList::TextId LineList::AddText(TextView text) {
    texts_.emplace_back(text);
    return static_cast<TextId>(texts_.size() - 1);
}

void LineList::InsertLine(std::int32_t index, TextView text) {
    CheckIndex(index, LineCount());
    if (LineCount() == std::numeric_limits<std::int32_t>::max()) {
        throw TooManyLinesError();
    }
    const LineStart start = FindLine(index);
    const Edit edit{start.at, start.at, AddText(text), true};
    edits_.Replace(start.edit, start.edit, {&edit, 1});
    ++linesAdded_;
}

void LineList::ReplaceText(std::size_t begin, std::size_t end, TextId text) {
    edits_.Append(Edit{begin, end, text, false});
    linesAdded_ -= static_cast<std::int64_t>(LoadedText().CountBreaks(begin, end).count);
}

void LineList::Load(ByteBuffer buffer) {
    const std::string_view head = buffer.View();
    std::size_t markSize = 0;
    TextEncoding encoding = TextEncoding::SystemCodePage;
    if (head.starts_with("\xEF\xBB\xBF")) {
        encoding = TextEncoding::Utf8, markSize = 3;
    } else if (head.starts_with("\xFF\xFE")) {
        encoding = TextEncoding::Utf16Le, markSize = 2;
    } else if (head.starts_with("\xFE\xFF")) {
        encoding = TextEncoding::Utf16Be, markSize = 2;
    }
    std::string_view bytes = head.substr(markSize);
    // Bytes that give no character at all are not a text of this encoding. The lines stay, but
    // the detected encoding is remembered.
    const bool loneByte = IsUtf16(encoding) && bytes.size() == 1;
    if (IsUtf16(encoding)) {
        bytes.remove_suffix(bytes.size() % 2);
    }
    const EncodedText text(bytes, encoding);
    const TextScan scan = ScanText(text, encoding);
    encoding_ = encoding;
    if (loneByte || !scan.valid) {
        throw EncodingError();
    }
    // The lines are counted when they are first asked for: a rewrite that only replaces text
    // never asks. A text of fewer units than the largest count cannot hold more lines.
    std::optional<std::int32_t> lines;
    if (text.Size() / text.UnitSize() >= std::numeric_limits<std::int32_t>::max()) {
        const std::uint64_t counted = LinesOf(text);
        if (counted > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
            throw TooManyLinesError();
        }
        lines = static_cast<std::int32_t>(counted);
    }
    buffer_ = std::move(buffer);
    markSize_ = markSize;
    textSize_ = bytes.size();
    loadedEncoding_ = encoding;
    onlyCrLf_ = scan.onlyCrLf;
    loadedLines_ = lines;
    linesAdded_ = 0;
    edits_.Clear();
    texts_.clear();
}

void LineList::LoadBytes(std::string_view bytes) {
    Load(ByteBuffer(bytes));
    loadedPath_.clear();
}

void LineList::LoadFile(TextView path) {
    platform::FileStamp stamp;
    Load(ReadFileBytes(path, stamp));
    loadedPath_ = platform::FullPath(path);
    loadedStamp_ = stamp;
}

void LineList::Encode(const std::function<void(std::string_view)>& sink) const {
    const TextEncoding encoding = encoding_.value_or(TextEncoding::SystemCodePage);
    const std::string_view lineBreak = LineBreak(encoding);
    const EncodedText text = LoadedText();
    const std::string_view bytes = text.Bytes();
    const bool sameBytes = loadedEncoding_ == encoding && BytesComeBack(encoding);
    BlockWriter writer(sink);
    writer.Append(ByteOrderMark(encoding));

    // Whether the last line written still waits for its break.
    bool open = false;
    const auto writeLoaded = [&](std::size_t from, std::size_t to) {
        if (from == to) {
            return;
        }
        if (sameBytes) {
            if (onlyCrLf_) {
                // Edits begin and end at tags and line starts, never inside a CR LF.
                writer.Append(bytes.substr(from, to - from));
            } else {
                writer.AppendWithCrLf(text, from, to);
            }
            open = !text.IsBreakAt(to - text.UnitSize());
            return;
        }
        // Another encoding: line by line, each decoded and encoded anew.
        for (std::size_t at = from; at < to;) {
            if (text.IsBreakAt(at)) {
                writer.Append(lineBreak);
                open = false;
                at = std::min(text.AfterBreak(at), to);
                continue;
            }
            const std::size_t lineEnd = text.Find(at, to, u'\r', u'\n');
            Text line;
            DecodeText(bytes.substr(at, lineEnd - at), loadedEncoding_, line);
            std::string encoded;
            EncodeText(line, encoding, encoded);
            writer.Append(encoded);
            open = true;
            at = lineEnd;
        }
    };

    // A rewrite puts the same few texts in many places: each is encoded once.
    std::vector<std::optional<std::string>> encodedTexts(texts_.size());
    std::size_t at = 0;
    for (EditList::Place place = edits_.Begin(); place.edit; edits_.Advance(place)) {
        const Edit& edit = *place.edit;
        writeLoaded(at, edit.begin);
        if (edit.ownLine && open) {
            writer.Append(lineBreak);
        }
        std::optional<std::string>& encoded = encodedTexts[edit.text];
        if (!encoded) {
            encoded.emplace();
            EncodeText(texts_[edit.text], encoding, *encoded);
        }
        writer.Append(*encoded);
        open = !edit.ownLine;
        if (edit.ownLine) {
            writer.Append(lineBreak);
        }
        at = edit.end;
    }
    writeLoaded(at, text.Size());
    if (open) {
        writer.Append(lineBreak);
    }
    writer.Flush();
}

std::string LineList::SaveBytes() const {
    std::string bytes;
    Encode([&bytes](std::string_view block) { bytes.append(block); });
    return bytes;
}

bool LineList::SavesAsLoaded() const {
    const std::string_view loaded = buffer_.View();
    std::size_t at = 0;
    bool same = true;
    Encode([&](std::string_view block) {
        same =
            same && loaded.size() - at >= block.size() && loaded.substr(at, block.size()) == block;
        at += block.size();
    });
    return same && at == loaded.size();
}

void LineList::SaveFile(TextView path) const {
    platform::FileReplacement file;
    // The same file however its path is spelt: "./p.xml" and "p.xml" name one.
    const bool loadedFromIt = !loadedPath_.empty() && loadedPath_ == platform::FullPath(path);
    platform::ErrorCode code = file.Open(path, loadedFromIt ? &loadedStamp_ : nullptr);
    if (code != platform::noError) {
        throw FileCreateError(platform::FullPath(path),
                              platform::WithBackupPath(FileSystemText(code), file.BackupLeft()));
    }
    Encode([&file](std::string_view block) { WriteBlock(file, block); });
    code = file.Flush();
    if (code == platform::fileChangedMeanwhile) {
        throw FileCreateError(platform::FullPath(path), FileSystemText(code));
    }
    if (code != platform::noError) {
        const Text backup = file.BackupLeft();
        const Text folder = file.FailedFolder();
        Text text = FileSystemText(code);
        if (!folder.empty()) {
            text += u" (dossier \"" + folder + u"\")";
        }
        if (!backup.empty()) {
            text += u". L'ancien contenu du fichier est dans \"" + backup + u"\"";
        }
        throw FileWriteError(text);
    }
    code = file.Commit();
    if (code != platform::noError) {
        throw FileCreateError(platform::FullPath(path), FileSystemText(code));
    }
}
