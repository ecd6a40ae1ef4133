#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Text.h"
#include "TextEncoding.h"

// An ordered list of lines that remembers the encoding of the file it was loaded from, and
// writes itself back in that encoding with CR LF after every line.
class LineList {
  public:
    LineList();
    LineList(const LineList&) = delete;
    LineList& operator=(const LineList&) = delete;
    LineList(LineList&&) noexcept;
    LineList& operator=(LineList&&) noexcept;
    ~LineList();

    std::int32_t LineCount() const { return static_cast<std::int32_t>(lines_.size()); }
    // The view stays valid until the list changes.
    TextView GetLine(std::int32_t index) const;
    void ReplaceLine(std::int32_t index, TextView text);
    void InsertLine(std::int32_t index, TextView text);
    // Removes `count` lines from `index` on; all of them must exist.
    void DeleteLines(std::int32_t index, std::int32_t count);

    std::optional<TextEncoding> Encoding() const { return encoding_; }

    // Raises FileOpenError or EncodingError; on either the lines stay as they were.
    void LoadFile(TextView path);
    void LoadBytes(std::string_view bytes);
    // Raises FileCreateError or FileWriteError; the file keeps its old content on either.
    void SaveFile(TextView path) const;
    // The bytes that SaveFile writes.
    std::string SaveBytes() const;

  private:
    class Decoder;
    struct Line {
        const char16_t* data;
        std::size_t size;
    };

    void Adopt(Decoder& decoder);
    void CheckIndex(std::int32_t index, std::int32_t upperBound) const;
    Line Own(TextView text);
    // Hands the saved bytes to `sink` in blocks: the byte-order mark first, then the text.
    void Encode(const std::function<void(std::string_view)>& sink) const;

    std::unique_ptr<Text> text_;  // the decoded text of the last load, where lines point
    std::deque<Text> owned_;      // texts given to ReplaceLine and InsertLine
    std::vector<Line> lines_;
    std::optional<TextEncoding> encoding_;
};
