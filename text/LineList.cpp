#include "LineList.h"

#include <algorithm>

#include "Codec.h"
#include "Error.h"
#include "Platform.h"

namespace {

// Files are read and written in blocks of this size, so that only the decoded text is held whole.
constexpr std::size_t blockSize = 4 << 20;

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

}  // namespace

// Decodes a file's bytes as they arrive: the byte-order mark decides the encoding, and a
// character cut by the end of a block waits for the next one.
class LineList::Decoder {
  public:
    explicit Decoder(std::uint64_t sizeHint) : sizeHint_(sizeHint) {}

    void Feed(std::string_view bytes) {
        if (!encoding_) {
            pending_.append(bytes);
            if (pending_.size() >= 3) {
                Start();
            }
            return;
        }
        if (failed_) {
            return;
        }
        if (pending_.empty()) {
            DecodeComplete(bytes);
        } else {
            pending_.append(bytes);
            const std::string joined = std::move(pending_);
            pending_.clear();
            DecodeComplete(joined);
        }
    }

    void Finish() {
        if (!encoding_) {
            Start();
        }
        if (!pending_.empty() && !failed_) {
            Decode(pending_);
            pending_.clear();
        }
        // Bytes that give no character at all are not a text of this encoding.
        if (decodedBytes_ > 0 && text_->empty()) {
            failed_ = true;
        }
    }

    TextEncoding Encoding() const { return *encoding_; }
    bool Failed() const { return failed_; }
    std::unique_ptr<Text> TakeText() { return std::move(text_); }

  private:
    void Start() {
        const std::string_view head = pending_;
        std::size_t markSize = 0;
        if (head.starts_with("\xEF\xBB\xBF")) {
            encoding_ = TextEncoding::Utf8, markSize = 3;
        } else if (head.starts_with("\xFF\xFE")) {
            encoding_ = TextEncoding::Utf16Le, markSize = 2;
        } else if (head.starts_with("\xFE\xFF")) {
            encoding_ = TextEncoding::Utf16Be, markSize = 2;
        } else {
            encoding_ = TextEncoding::SystemCodePage;
        }
        const bool twoBytesPerUnit =
            encoding_ == TextEncoding::Utf16Le || encoding_ == TextEncoding::Utf16Be;
        text_->reserve(static_cast<std::size_t>(twoBytesPerUnit ? sizeHint_ / 2 : sizeHint_));
        const std::string rest = pending_.substr(markSize);
        pending_.clear();
        DecodeComplete(rest);
    }

    // Decodes the bytes up to the last whole character and keeps the rest for later.
    void DecodeComplete(std::string_view bytes) {
        std::size_t complete = bytes.size();
        switch (*encoding_) {
            case TextEncoding::Utf8:
                complete = codec::Utf8CompletePrefix(bytes);
                break;
            case TextEncoding::Utf16Le:
            case TextEncoding::Utf16Be:
                complete = bytes.size() & ~std::size_t{1};
                break;
            case TextEncoding::SystemCodePage:
                complete = platform::SystemCodePageCompletePrefix(bytes);
                break;
        }
        Decode(bytes.substr(0, complete));
        pending_.assign(bytes.substr(complete));
    }

    void Decode(std::string_view bytes) {
        if (bytes.empty() || failed_) {
            return;
        }
        decodedBytes_ += bytes.size();
        switch (*encoding_) {
            case TextEncoding::Utf8:
                failed_ = !platform::DecodeUtf8(bytes, *text_);
                break;
            case TextEncoding::Utf16Le:
                codec::DecodeUtf16(bytes, false, *text_);
                break;
            case TextEncoding::Utf16Be:
                codec::DecodeUtf16(bytes, true, *text_);
                break;
            case TextEncoding::SystemCodePage:
                platform::DecodeSystemCodePage(bytes, *text_);
                break;
        }
    }

    std::uint64_t sizeHint_;
    std::optional<TextEncoding> encoding_;
    std::string pending_;
    std::unique_ptr<Text> text_ = std::make_unique<Text>();
    std::size_t decodedBytes_ = 0;
    bool failed_ = false;
};

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
    const Text& stored = owned_.emplace_back(text);
    return Line{stored.data(), stored.size()};
}

TextView LineList::GetLine(std::int32_t index) const {
    CheckIndex(index, LineCount() - 1);
    const Line& line = lines_[static_cast<std::size_t>(index)];
    return TextView(line.data, line.size);
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

void LineList::Adopt(Decoder& decoder) {
    std::unique_ptr<Text> text = decoder.TakeText();
    std::vector<Line> lines;
    const char16_t* p = text->data();
    const char16_t* const end = p + text->size();
    // CR LF, a lone CR and a lone LF each end a line; a break at the very end adds no empty line.
    while (p < end) {
        const char16_t* stop = p;
        // Every unit above CR is part of the line: one comparison settles most of them.
        while (stop < end && (*stop > u'\r' || (*stop != u'\r' && *stop != u'\n'))) {
            ++stop;
        }
        lines.push_back(Line{p, static_cast<std::size_t>(stop - p)});
        p = stop;
        if (p < end && *p == u'\r') {
            ++p;
        }
        if (p < end && *p == u'\n') {
            ++p;
        }
    }
    lines_ = std::move(lines);
    owned_.clear();
    text_ = std::move(text);
}

void LineList::LoadBytes(std::string_view bytes) {
    Decoder decoder(bytes.size());
    decoder.Feed(bytes);
    decoder.Finish();
    encoding_ = decoder.Encoding();
    if (decoder.Failed()) {
        throw EncodingError();
    }
    Adopt(decoder);
}

void LineList::LoadFile(TextView path) {
    platform::InputFile file;
    platform::ErrorCode code = file.Open(path);
    std::uint64_t size = 0;
    if (code == platform::noError) {
        code = file.Size(size);
    }
    if (code != platform::noError) {
        throw FileOpenError(platform::FullPath(path), FileSystemText(code));
    }
    Decoder decoder(size);
    std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(size + 1, blockSize)), '\0');
    for (;;) {
        std::size_t got = 0;
        code = file.Read(block.data(), block.size(), got);
        if (code != platform::noError) {
            throw FileOpenError(platform::FullPath(path), FileSystemText(code));
        }
        if (got == 0) {
            break;
        }
        decoder.Feed(std::string_view(block.data(), got));
    }
    decoder.Finish();
    encoding_ = decoder.Encoding();
    if (decoder.Failed()) {
        throw EncodingError();
    }
    Adopt(decoder);
}

void LineList::Encode(const std::function<void(std::string_view)>& sink) const {
    const TextEncoding encoding = encoding_.value_or(TextEncoding::SystemCodePage);
    sink(ByteOrderMark(encoding));
    std::string block;
    for (const Line& line : lines_) {
        const TextView text(line.data, line.size);
        switch (encoding) {
            case TextEncoding::Utf8:
                platform::EncodeUtf8(text, block);
                block += "\r\n";
                break;
            case TextEncoding::Utf16Le:
                codec::EncodeUtf16(text, false, block);
                block.append("\r\0\n\0", 4);
                break;
            case TextEncoding::Utf16Be:
                codec::EncodeUtf16(text, true, block);
                block.append("\0\r\0\n", 4);
                break;
            case TextEncoding::SystemCodePage:
                platform::EncodeSystemCodePage(text, block);
                block += "\r\n";
                break;
        }
        if (block.size() >= blockSize) {
            sink(block);
            block.clear();
        }
    }
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
