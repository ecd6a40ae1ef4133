#include "EditList.h"

namespace {

void PutNumber(std::uint64_t value, std::string& bytes) {
    for (; value >= 0x80; value >>= 7) {
        bytes.push_back(static_cast<char>(0x80 | (value & 0x7F)));
    }
    bytes.push_back(static_cast<char>(value));
}

std::uint64_t GetNumber(const std::string& bytes, std::size_t& at) {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(bytes[at++]);
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (byte < 0x80) {
            return value;
        }
    }
}

void PutEdit(const Edit& edit, std::size_t previousEnd, std::string& bytes) {
    PutNumber(edit.begin - previousEnd, bytes);
    PutNumber(edit.end - edit.begin, bytes);
    PutNumber(std::uint64_t{edit.text} << 1 | (edit.ownLine ? 1 : 0), bytes);
}

}  // namespace

EditList::Place EditList::Read(std::size_t offset, std::size_t previousEnd) const {
    Place place{offset, offset, previousEnd, std::nullopt};
    if (offset == bytes_.size()) {
        return place;
    }
    Edit edit;
    edit.begin = previousEnd + GetNumber(bytes_, place.nextOffset);
    edit.end = edit.begin + GetNumber(bytes_, place.nextOffset);
    const std::uint64_t text = GetNumber(bytes_, place.nextOffset);
    edit.text = static_cast<std::uint32_t>(text >> 1);
    edit.ownLine = (text & 1) != 0;
    place.edit = edit;
    return place;
}

EditList::Place EditList::Begin() const {
    return Read(0, 0);
}

EditList::Place EditList::End() const {
    return Read(bytes_.size(), lastEnd_);
}

void EditList::Advance(Place& place) const {
    place = Read(place.nextOffset, place.edit->end);
}

void EditList::Clear() {
    bytes_.clear();
    lastEnd_ = 0;
}

void EditList::Append(const Edit& edit) {
    PutEdit(edit, lastEnd_, bytes_);
    lastEnd_ = edit.end;
}

void EditList::Replace(const Place& first, const Place& last, std::span<const Edit> edits) {
    std::string bytes;
    std::size_t previousEnd = first.previousEnd;
    for (const Edit& edit : edits) {
        PutEdit(edit, previousEnd, bytes);
        previousEnd = edit.end;
    }
    std::size_t replacedEnd = last.offset;
    if (last.edit) {
        // The edit after the new ones is stored from the end of the one now before it.
        PutEdit(*last.edit, previousEnd, bytes);
        replacedEnd = last.nextOffset;
    } else {
        lastEnd_ = previousEnd;
    }
    bytes_.replace(first.offset, replacedEnd - first.offset, bytes);
}
