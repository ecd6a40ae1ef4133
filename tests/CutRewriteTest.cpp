// What a file holds after a rewrite in place was cut short is told from its bytes alone, and the
// backup's checksum finds every kind of damage to it.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "file/BackupRecord.h"
#include "file/CutRewrite.h"
#include "support/CaseName.h"

namespace {

using file::CutRewriteState;

file::ByteRange RangeOf(const std::string& bytes) {
    return {[&bytes](std::uint64_t offset, std::span<char> out) {
                std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(),
                            out.begin());
            },
            bytes.size()};
}

// Old and new bytes, the new ones longer, sharing their first and last bytes.
const std::string oldBytes = "<lx>\r\n<mapfiles>old</mapfiles>\r\n</lx>\r\n";
const std::string newBytes =
    "<lx>\r\n<mapfiles>a.cmr;b.cmr</mapfiles>\r\n<showraster>1</showraster>\r\n</lx>\r\n";
// The old bytes as the reserved room of the longer new ones leaves them.
const std::string oldWithRoom = oldBytes + std::string(newBytes.size() - oldBytes.size(), '\0');

struct CutCase {
    std::string name;
    std::string file;
    CutRewriteState state;
};

void PrintTo(const CutCase& row, std::ostream* out) {
    *out << row.name;
}

const CutCase cutCases[] = {
    {"old", oldBytes, CutRewriteState::Old},
    {"new", newBytes, CutRewriteState::New},
    {"room_reserved", oldWithRoom, CutRewriteState::Cut},
    {"new_written_halfway", newBytes.substr(0, 30) + oldWithRoom.substr(30), CutRewriteState::Cut},
    {"new_written_but_not_cut_to_size", newBytes, CutRewriteState::New},
    {"restore_written_halfway",
     oldBytes.substr(0, 20) + newBytes.substr(20, 30) + oldWithRoom.substr(50),
     CutRewriteState::Cut},
    {"restore_written_but_not_cut_to_size", oldWithRoom, CutRewriteState::Cut},
    {"one_byte_changed", newBytes.substr(0, 30) + "X" + oldWithRoom.substr(31),
     CutRewriteState::Changed},
    {"appended_to", oldBytes + "<their-line/>\r\n", CutRewriteState::Changed},
    {"emptied", "", CutRewriteState::Changed},
    {"another_size", newBytes.substr(0, 30), CutRewriteState::Changed},
};

class CutRewriteTest : public testing::TestWithParam<CutCase> {};

TEST_P(CutRewriteTest, StateIsToldFromTheBytes) {
    const CutCase& row = GetParam();
    EXPECT_EQ(file::ClassifyCutRewrite(RangeOf(row.file), RangeOf(oldBytes), RangeOf(newBytes)),
              row.state);
}

INSTANTIATE_TEST_SUITE_P(Files, CutRewriteTest, testing::ValuesIn(cutCases), CaseName());

TEST(CutRewrite, ShorterNewBytesLeaveTheOldSizeUntilCut) {
    // Written whole but not yet cut to its size, the file is the new bytes and then old ones.
    const std::string shortNew = "<lx/>\r\n";
    const std::string cutBeforeTruncate = shortNew + oldBytes.substr(shortNew.size());
    EXPECT_EQ(
        file::ClassifyCutRewrite(RangeOf(cutBeforeTruncate), RangeOf(oldBytes), RangeOf(shortNew)),
        CutRewriteState::Cut);
    EXPECT_EQ(file::ClassifyCutRewrite(RangeOf(shortNew), RangeOf(oldBytes), RangeOf(shortNew)),
              CutRewriteState::New);
}

std::uint64_t ChecksumOf(const std::string& bytes, std::size_t piece) {
    file::Checksum checksum;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        checksum.Add(std::span(bytes.data() + at, std::min(piece, bytes.size() - at)));
    }
    return checksum.Value();
}

TEST(Checksum, PiecesOfAnySizeGiveTheSameValue) {
    for (const std::size_t piece : {1u, 3u, 7u, 8u, 13u, 1000u}) {
        EXPECT_EQ(ChecksumOf(newBytes, piece), ChecksumOf(newBytes, newBytes.size())) << piece;
    }
}

TEST(Checksum, FindsAChangedShortenedOrLengthenedBody) {
    const std::uint64_t whole = ChecksumOf(newBytes, 64);
    std::string changed = newBytes;
    changed[40] ^= 1;
    EXPECT_NE(ChecksumOf(changed, 64), whole);
    EXPECT_NE(ChecksumOf(newBytes.substr(0, newBytes.size() - 1), 64), whole);
    EXPECT_NE(ChecksumOf(newBytes + std::string(1, '\0'), 64), whole);
    EXPECT_NE(ChecksumOf(std::string(8, '\0'), 8), ChecksumOf(std::string(16, '\0'), 8));
}

}  // namespace
