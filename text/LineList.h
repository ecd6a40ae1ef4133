#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ByteBuffer.h"
#include "EditList.h"
#include "EncodedText.h"
#include "Platform.h"
#include "Text.h"
#include "TextEncoding.h"

// An ordered list of lines that remembers the encoding of the file it was loaded from, and
// writes itself back in that encoding with CR LF after every line.
//
// A loaded file's bytes are kept as they are, and changes are kept beside them as edits of those
// bytes. So a profile costs little more than its size whatever the shape of its lines, its
// untouched lines go back byte for byte, and a rewrite can edit it in one pass over its text.
// Adding lines at the end costs no walk over the lines.
class LineList {
  public:
    // A text that an edit puts in place of loaded bytes.
    using TextId = std::uint32_t;

    LineList();
    LineList(const LineList&) = delete;
    LineList& operator=(const LineList&) = delete;
    LineList(LineList&&) noexcept;
    LineList& operator=(LineList&&) noexcept;
    ~LineList();

    std::int32_t LineCount() const;
    // Raises TooManyLinesError when the list holds 2^31 - 1 lines already.
    void InsertLine(std::int32_t index, TextView text);

    // Raises FileOpenError, EncodingError or TooManyLinesError; on any of them the lines stay as
    // they were.
    void LoadFile(TextView path);
    void LoadBytes(std::string_view bytes);
    // Raises FileCreateError or FileWriteError; the file keeps its old content on either. Saved
    // to the file it was loaded from, the list writes nothing when another program has changed
    // the file since (FileCreateError).
    void SaveFile(TextView path) const;
    // The bytes that SaveFile writes.
    std::string SaveBytes() const;
    // Whether SaveFile would write back exactly the bytes that were loaded.
    bool SavesAsLoaded() const;

    // For a rewrite in one pass over the loaded text:
    // The loaded text, after its byte-order mark.
    EncodedText LoadedText() const;
    TextId AddText(TextView text);
    // Puts a text in place of the loaded bytes from `begin` to `end`, which lie after every
    // earlier edit; the lines that they span become one.
    void ReplaceText(std::size_t begin, std::size_t end, TextId text);

  private:
    // Where a line starts: its place in the loaded text and the first edit at or after it.
    struct LineStart {
        std::int32_t index = 0;
        std::size_t at = 0;
        EditList::Place edit;
    };
    void Load(ByteBuffer buffer);
    void CheckIndex(std::int32_t index, std::int32_t upperBound) const;
    LineStart FirstLine() const;
    LineStart NextLine(const LineStart& start) const;
    LineStart FindLine(std::int32_t index) const;
    // Hands the saved bytes to `sink` in blocks: the byte-order mark first, then the text.
    void Encode(const std::function<void(std::string_view)>& sink) const;

    ByteBuffer buffer_;  // the loaded file, byte-order mark included
    Text loadedPath_;    // the full path it was loaded from; empty when loaded from bytes
    platform::FileStamp loadedStamp_;
    std::size_t markSize_ = 0;
    std::size_t textSize_ = 0;  // without an odd last byte after a UTF-16 mark
    TextEncoding loadedEncoding_ = TextEncoding::SystemCodePage;
    bool onlyCrLf_ = true;  // every line break of the loaded text is CR LF
    mutable std::optional<std::int32_t> loadedLines_;  // counted when first asked for
    std::int64_t linesAdded_ = 0;  // by the edits; fewer than none where they join lines
    EditList edits_;
    std::deque<Text> texts_;                // given to edits
    std::optional<TextEncoding> encoding_;  // to save in; none before the first load
};
