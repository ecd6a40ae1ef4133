#include "ByteBuffer.h"

#include <algorithm>
#include <cstring>

#include "Platform.h"

ByteBuffer::ByteBuffer(std::size_t size)
    : data_(std::make_unique_for_overwrite<char[]>(size)), size_(size) {
    platform::PreferLargePages(data_.get(), size);
}

ByteBuffer::ByteBuffer(std::string_view bytes) : ByteBuffer(bytes.size()) {
    std::memcpy(data_.get(), bytes.data(), bytes.size());
}

void ByteBuffer::Shrink(std::size_t size) {
    size_ = std::min(size, size_);
}
