#include "BackupRecord.h"

#include <cstring>
#include <limits>

namespace file {
namespace {

constexpr std::uint64_t prime = 0x100000001b3ull;

std::uint64_t Mix(std::uint64_t state, std::uint64_t word) {
    return (state ^ word) * prime;
}

}  // namespace

bool BackupRecord::WellFormed() const {
    constexpr std::uint64_t largest = std::numeric_limits<std::uint64_t>::max() / 4;
    return std::memcmp(magic, BackupRecord().magic, sizeof magic) == 0 && oldSize <= largest &&
           newSize <= largest;
}

void Checksum::Add(std::span<const char> bytes) {
    length_ += bytes.size();
    std::size_t at = 0;
    // Words of eight bytes, whatever the pieces: the bytes of one word may come in two.
    while (at < bytes.size() && pendingCount_ != 0) {
        pending_ |= std::uint64_t{static_cast<unsigned char>(bytes[at++])} << (8 * pendingCount_);
        if (++pendingCount_ == 8) {
            state_ = Mix(state_, pending_);
            pending_ = 0;
            pendingCount_ = 0;
        }
    }
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            word |= std::uint64_t{static_cast<unsigned char>(bytes[at + byte])} << (8 * byte);
        }
        state_ = Mix(state_, word);
    }
    for (; at < bytes.size(); ++at) {
        pending_ |= std::uint64_t{static_cast<unsigned char>(bytes[at])} << (8 * pendingCount_++);
    }
}

std::uint64_t Checksum::Value() const {
    // The length goes in last, so that trailing zeros count.
    std::uint64_t value = Mix(Mix(state_, pending_), length_);
    value ^= value >> 29;
    return value * prime;
}

void AddRecord(Checksum& checksum, const BackupRecord& record) {
    BackupRecord copy = record;
    copy.checksum = 0;
    char bytes[sizeof copy];
    std::memcpy(bytes, &copy, sizeof copy);
    checksum.Add(bytes);
}

}  // namespace file
