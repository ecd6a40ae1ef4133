#pragma once

// The first bytes of the backup that a rewrite in place keeps, the same on every system. The old
// bytes follow it, then the new ones: with both, what a cut rewrite left can be told exactly from
// another program's change (CutRewrite.h). It names the file it belongs to by the file's identity,
// and a checksum covers it and both bodies: a backup that is not whole, not this file's, or
// changed since, is never used.

#include <cstdint>
#include <span>

namespace file {

// What tells one file from every other, now and before: its volume, its number there, and where
// the system keeps one, when it was made (a number that is reused by a new file after a removal
// then tells them apart); 0 where it keeps none.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t birth = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct BackupRecord {
    char magic[16] = {'t', 'a', 'l', 'v', 'o', 'r', '-', 'b',
                      'a', 'c', 'k', 'u', 'p', ' ', '2', '\n'};
    FileIdentity profile;
    std::uint64_t oldSize = 0;
    std::uint64_t newSize = 0;
    std::uint64_t checksum = 0;  // of the record with this field 0, then of both bodies

    // Offsets of the bodies in the backup, and its whole size.
    std::uint64_t OldOffset() const { return sizeof(BackupRecord); }
    std::uint64_t NewOffset() const { return OldOffset() + oldSize; }
    std::uint64_t End() const { return NewOffset() + newSize; }
    // The record is of this kind and version, and its sizes are possible.
    bool WellFormed() const;
};
static_assert(sizeof(BackupRecord) == 64);

// A checksum that bytes fed in pieces of any size give alike: it finds a body cut short, grown or
// changed, not a forgery (the backup's owner and mode keep others out).
class Checksum {
  public:
    void Add(std::span<const char> bytes);
    std::uint64_t Value() const;

  private:
    std::uint64_t state_ = 0xcbf29ce484222325ull;
    std::uint64_t pending_ = 0;  // bytes of a word not yet whole
    unsigned pendingCount_ = 0;
    std::uint64_t length_ = 0;
};

// The record's own part of the checksum: every byte of it but the checksum.
void AddRecord(Checksum& checksum, const BackupRecord& record);

}  // namespace file
