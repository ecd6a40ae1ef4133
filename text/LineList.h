#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Text.h"
#include "TextEncoding.h"

// An ordered list of lines that remembers the encoding of the file it was loaded from, and
// writes itself back in that encoding with CR LF after every line.
//
// A loaded file's bytes are kept as they are and its lines point into them; a line is decoded
// when it is read, and written back as its original bytes while it is unchanged. So a large
// profile costs little more than its size, and its untouched lines go back byte for byte.
class LineList {
  public:
    LineList();
    LineList(const LineList&) = delete;
    LineList& operator=(const LineList&) = delete;
    LineList(LineList&&) noexcept;
    LineList& operator=(LineList&&) noexcept;
    ~LineList();

    std::int32_t LineCount() const { return static_cast<std::int32_t>(lines_.size()); }
    Text GetLine(std::int32_t index) const;
    void ReplaceLine(std::int32_t index, TextView text);
    void InsertLine(std::int32_t index, TextView text);
    // Removes `count` lines from `index` on; all of them must exist.
    void DeleteLines(std::int32_t index, std::int32_t count);
    // The first line at or after `from` that contains `text`; LineCount() when there is none.
    std::int32_t FindLine(std::int32_t from, TextView text) const;

    std::optional<TextEncoding> Encoding() const { return encoding_; }

    // Raises FileOpenError or EncodingError; on either the lines stay as they were.
    void LoadFile(TextView path);
    void LoadBytes(std::string_view bytes);
    // Raises FileCreateError or FileWriteError; the file keeps its old content on either.
    void SaveFile(TextView path) const;
    // The bytes that SaveFile writes.
    std::string SaveBytes() const;

  private:
    // A line is a span of the loaded bytes, or a text of its own.
    struct Line {
        std::size_t offset;  // into bytes_, or into owned_
        std::size_t size;    // in bytes, or in code units
        bool owned;
    };

    void Load(std::string bytes);
    void CheckIndex(std::int32_t index, std::int32_t upperBound) const;
    Line Own(TextView text);
    // Hands the saved bytes to `sink` in blocks: the byte-order mark first, then the text.
    void Encode(const std::function<void(std::string_view)>& sink) const;

    std::string bytes_;       // the loaded file's text bytes, after its byte-order mark
    std::deque<Text> owned_;  // texts given to ReplaceLine and InsertLine
    std::vector<Line> lines_;
    std::optional<TextEncoding> encoding_;
};
