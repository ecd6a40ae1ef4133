#pragma once

// The first bytes of the backup that a rewrite in place keeps of the old content, the same on
// every system: what it is, the old size, when the rewrite began, and whether the old bytes are
// still needed. Written last, so that a backup cut short is no backup; the old bytes follow it.

#include <cstdint>
#include <cstring>

namespace platform {

struct SaveBackupHeader {
    char magic[16] = {'t', 'a', 'l', 'v', 'o', 'r', '-', 'b',
                      'a', 'c', 'k', 'u', 'p', ' ', '1', '\n'};
    std::uint64_t size = 0;
    std::uint64_t began = 0;  // nanoseconds since 1970
    std::uint64_t needed = 0;
    char padding[24] = {};

    bool Complete() const {
        return std::memcmp(magic, SaveBackupHeader().magic, sizeof magic) == 0;
    }
};
static_assert(sizeof(SaveBackupHeader) == 64);
constexpr std::uint64_t saveBackupDataOffset = sizeof(SaveBackupHeader);

// An interrupted rewrite of `size` bytes wrote its last byte before this many nanoseconds after
// it began (ten seconds, and a disk of 10 MB/s): a later change of the file was another
// program's, which the old bytes must not undo.
constexpr std::uint64_t LongestRewrite(std::uint64_t size) {
    return (10ull + size / 10000000ull) * 1000000000ull;
}

}  // namespace platform
