#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "Text.h"

// What a failing operation raises: a kind (the class) and a French message.
class Error : public std::exception {
  public:
    explicit Error(Text message);

    const Text& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

  private:
    Text message_;
    std::string utf8_;
};

class FileOpenError : public Error {
  public:
    FileOpenError(TextView fullPath, TextView systemText);
};

// A rewrite in place of the file was cut short, and its old bytes wait for the next save to put
// them back: the file's bytes are not read as its content meanwhile.
class CutRewriteError : public FileOpenError {
  public:
    using FileOpenError::FileOpenError;
};

class EncodingError : public Error {
  public:
    EncodingError();
};

class LineIndexError : public Error {
  public:
    LineIndexError(std::int32_t index, std::int32_t upperBound);
};

// A text of more lines than a line list counts (2^31 - 1).
class TooManyLinesError : public Error {
  public:
    TooManyLinesError();
};

class FileCreateError : public Error {
  public:
    FileCreateError(TextView fullPath, TextView systemText);
};

class FileWriteError : public Error {
  public:
    // For a failure that the platform reported without an error code.
    FileWriteError();
    explicit FileWriteError(TextView systemText);
};

// The platform's text for an error code loses its trailing blanks, control characters and
// full stops, so that it can stand inside a sentence.
Text TrimSystemText(Text text);
