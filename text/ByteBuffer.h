#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

// Bytes in one block that is not cleared when it is made, so that a file is read straight into
// it without touching its memory twice; large blocks ask for large memory pages.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    explicit ByteBuffer(std::size_t size);
    explicit ByteBuffer(std::string_view bytes);

    char* Data() { return data_.get(); }
    std::size_t Size() const { return size_; }
    std::string_view View() const { return {data_.get(), size_}; }
    // Keeps the first `size` bytes only.
    void Shrink(std::size_t size);

  private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
};
