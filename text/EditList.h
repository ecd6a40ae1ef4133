#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// One change to a loaded text: its bytes from `begin` to `end` give way to one of the line list's
// texts. An inserted line (`ownLine`, begin == end) is a line of its own, placed before the line
// at `begin`.
struct Edit {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint32_t text = 0;
    bool ownLine = false;
};

// The edits of a loaded text in the order of the text, kept in a few bytes each: every number is
// stored as its distance from the one before it, in groups of seven bits. So even a profile made of
// nothing but tags costs less in edits than in its own bytes.
class EditList {
  public:
    // A place in the list: at an edit, or at the end (no edit).
    struct Place {
        std::size_t offset = 0;       // of the edit's bytes
        std::size_t nextOffset = 0;   // after them
        std::size_t previousEnd = 0;  // the end of the edit before, 0 for the first
        std::optional<Edit> edit;
    };

    Place Begin() const;
    Place End() const;
    void Advance(Place& place) const;

    void Clear();
    // Puts `edit` after every other; it begins where the last one ends, or later.
    void Append(const Edit& edit);
    // The edits from `first` up to `last` give way to `edits`, which lie in order between the
    // edit before `first` and the one at `last`. Places in the list are then no longer valid.
    void Replace(const Place& first, const Place& last, std::span<const Edit> edits);

  private:
    Place Read(std::size_t offset, std::size_t previousEnd) const;

    std::string bytes_;
    std::size_t lastEnd_ = 0;  // of the last edit
};
