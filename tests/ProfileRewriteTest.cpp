// The rewrite of a profile: which lines change, which are inserted, and what it raises.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "profile/ProfileRewrite.h"
#include "support/CaseName.h"
#include "support/SavedLines.h"
#include "support/TempFolder.h"
#include "text/Error.h"

namespace {

using Lines = std::vector<Text>;

const Text mapFiles(MapFilesLine);
const Text raster(ShowRasterLine);
// The element alone, as it stands in a line that holds other text too.
const Text mapFilesElement = mapFiles.substr(4);
const Text rasterElement = u"<showraster>1</showraster>";

// A profile loaded from the lines, in UTF-8.
LineList ListOf(const Lines& lines) {
    std::string bytes = "\xEF\xBB\xBF";
    for (const Text& line : lines) {
        platform::EncodeUtf8(line, bytes);
        bytes += "\r\n";
    }
    LineList list;
    list.LoadBytes(bytes);
    return list;
}

struct RewriteCase {
    const char* name;
    Lines before;
    Lines after;
};

const RewriteCase rewriteCases[] = {
    {"both elements on lines of their own",
     {u"<lx>", u"  <mapfiles>old.cmr</mapfiles>", u"\t<showraster>0</showraster>", u"</lx>"},
     {u"<lx>", mapFiles, raster, u"</lx>"}},
    {"five lines without map files: inserted before the fifth",
     {u"a", u"b", u"c", u"d", u"e"},
     {u"a", u"b", u"c", u"d", mapFiles, u"e"}},
    {"exactly four lines: appended",
     {u"a", u"b", u"c", u"<showraster>0</showraster>"},
     {u"a", u"b", u"c", raster, mapFiles}},
    {"every matching line is set",
     {u"<mapfiles>a</mapfiles>", u"<showraster>0</showraster>", u"<mapfiles>b</mapfiles>",
      u"  <showraster>x</showraster>  "},
     {mapFiles, raster, mapFiles, raster}},
    {"near misses do not match",
     {u"<MAPFILES>x</MAPFILES>", u"<mapfiles >x</mapfiles>", u"<mapfiles/>", u"</mapfiles>",
      u"<ShowRaster>0</ShowRaster>"},
     {u"<MAPFILES>x</MAPFILES>", u"<mapfiles >x</mapfiles>", u"<mapfiles/>", u"</mapfiles>",
      mapFiles, u"<ShowRaster>0</ShowRaster>"}},
    // An opening tag that starts no element, on a line without other markup: the line goes.
    {"opening tag without any closing tag: the whole line goes",
     {u"x <mapfiles>a,b", u"<showraster>0 y", u"c", u"d"},
     {mapFiles, raster, u"c", u"d"}},
    // A tag before the real element never runs to the element's closing tag: the lines between
    // and the end of a comment stay.
    {"map files tag in a comment before the element",
     {u"<lx>", u"<!-- <mapfiles> tiles -->", u"<user>camille</user>", u"<mapfiles>old</mapfiles>",
      u"<showraster>0</showraster>", u"</lx>"},
     {u"<lx>", u"<!-- " + mapFilesElement + u" tiles -->", u"<user>camille</user>", mapFiles,
      raster, u"</lx>"}},
    {"unclosed map files line above the element",
     {u"<lx>", u"<mapfiles>a.cmr", u"<user>camille</user>", u"<mapfiles>old</mapfiles>",
      u"<showraster>0</showraster>", u"</lx>"},
     {u"<lx>", mapFiles, u"<user>camille</user>", mapFiles, raster, u"</lx>"}},
    {"raster tag in a comment before the element",
     {u"<lx>", u"<!-- <showraster> -->", u"<user>camille</user>", u"<mapfiles>old</mapfiles>",
      u"<showraster>0</showraster>", u"</lx>"},
     {u"<lx>", u"<!-- " + rasterElement + u" -->", u"<user>camille</user>", mapFiles, raster,
      u"</lx>"}},
    {"markup before the closing tag: the tag alone is replaced",
     {u"<mapfiles>a<b/></mapfiles>", u"<showraster><![CDATA[0]]></showraster>"},
     {mapFilesElement + u"a<b/></mapfiles>", rasterElement + u"<![CDATA[0]]></showraster>"}},
    {"the other element's closing tag closes nothing",
     {u"<mapfiles>a</showraster>", u"<showraster>0", u"</mapfiles>"},
     {mapFilesElement + u"a</showraster>", raster, u"</mapfiles>"}},
    {"tag in a comment over several lines",
     {u"<!--", u"  see <mapfiles> below", u"  and <showraster>, -->", u"<x/>"},
     {u"<!--", mapFiles, u"  and " + rasterElement + u", -->", u"<x/>"}},
    {"unclosed tag with markup after it on its line",
     {u"<mapfiles>a <x>", u"<showraster>0 ]]>", u"c", u"d"},
     {mapFilesElement + u"a <x>", rasterElement + u"0 ]]>", u"c", u"d"}},
    {"wrapped value with its tags on lines of their own",
     {u"<lx>", u"  <mapfiles>", u"    a.cmr,", u"    b.cmr", u"  </mapfiles>", u"</lx>"},
     {u"<lx>", mapFiles, u"</lx>"}},
    {"a later element on the line of a multi-line one",
     {u"<mapfiles>a,", u"b</mapfiles> <x> <showraster>0</showraster>", u"y"},
     {mapFilesElement + u" <x> " + rasterElement, u"y"}},
    // Found by fuzzing: the whole-line rule must not undo the other element set on that line;
    // the opening tag alone becomes the element, and no text is lost.
    {"unclosed raster element after the map files on its line",
     {u"<lx><mapfiles>a</mapfiles><showraster>0"},
     {u"<lx>" + mapFilesElement + rasterElement + u"0"}},
    {"unclosed map files element after the raster element on its line",
     {u"<showraster>0</showraster><mapfiles>x"},
     {rasterElement + mapFilesElement + u"x"}},
    {"raster element over two lines brings a map files element onto its line",
     {u"<showraster>", u"0</showraster><mapfiles>a</mapfiles>"},
     {rasterElement + mapFilesElement}},
    {"raster element wrapped around the map files on one line",
     {u"<showraster>0<mapfiles>a</mapfiles></showraster>"},
     {rasterElement + u"0" + mapFilesElement + u"</showraster>"}},
    {"raster element over lines holding the map files",
     {u"<showraster>", u"<mapfiles>a</mapfiles>", u"</showraster>", u"d", u"e"},
     {raster, mapFiles, u"</showraster>", u"d", u"e"}},
    {"unclosed raster element before map files over two lines",
     {u"<showraster><x><mapfiles>a,", u"b</mapfiles><y>"},
     {rasterElement + u"<x>" + mapFilesElement + u"<y>"}},
    // What else a line holds stays: only the element takes its new value.
    {"element among other text",
     {u"<p><mapfiles>a</mapfiles><z/></p>", u"<q><showraster>0</showraster></q>"},
     {u"<p>" + mapFilesElement + u"<z/></p>", u"<q>" + rasterElement + u"</q>"}},
    {"whole profile on one line",
     {u"<lx><mapfiles>a</mapfiles><showraster>0</showraster></lx>"},
     {u"<lx>" + mapFilesElement + rasterElement + u"</lx>"}},
    {"both elements alone on one line get both set",
     {u"  <mapfiles>a</mapfiles> <showraster>0</showraster>"},
     {u"  " + mapFilesElement + u" " + rasterElement}},
    {"element over several lines is replaced whole",
     {u"<lx>", u"  <mapfiles>a,", u"b,", u"c</mapfiles>", u"  <showraster>", u"0", u"</showraster>",
      u"</lx>"},
     {u"<lx>", mapFiles, raster, u"</lx>"}},
    {"element over several lines keeps the text around it",
     {u"<lx><mapfiles>a,", u"b</mapfiles><x/>", u"y"},
     {u"<lx>" + mapFilesElement + u"<x/>", u"y"}},
    {"two elements on a line",
     {u"<mapfiles>a</mapfiles>|<mapfiles>b</mapfiles>"},
     {mapFilesElement + u"|" + mapFilesElement}},
};

class RewriteTest : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTest, SetsTheMapSet) {
    LineList list = ListOf(GetParam().before);
    RewriteProfile(list);
    EXPECT_EQ(SavedLines(list), GetParam().after);
    // A second rewrite of what the first saved changes nothing.
    LineList again;
    again.LoadBytes(list.SaveBytes());
    RewriteProfile(again);
    EXPECT_TRUE(again.SavesAsLoaded());
}

INSTANTIATE_TEST_SUITE_P(Profiles, RewriteTest, testing::ValuesIn(rewriteCases), CaseName());

struct ShapeCase {
    const char* name;
    std::string unit;  // repeated to make the profile
    std::int32_t repeats;
    std::int32_t linesAfter;
    RewriteSummary summary;
};

#ifdef TALVOR_SANITIZE
// Checked at every access, the sanitizers' build takes a second or two itself.
constexpr double secondsAllowed = 10;
#else
constexpr double secondsAllowed = 1;
#endif

// A host that runs no 32-bit program emulates each of its instructions: there the 32-bit build
// takes 0.07 to 0.23 s a shape alone, and more than the second with end-to-end tests beside it.
double SecondsAllowedHere() {
    const char* const loader = std::getenv("TALVOR_WINE_I386");
    return loader != nullptr && std::string_view(loader) == "emulated" ? 5 * secondsAllowed
                                                                       : secondsAllowed;
}

// The rewrite goes once over the text, whatever its shape: tens of thousands of elements that
// span lines or start no element cost no more than their bytes (a rewrite that looked ahead for
// each of them took seconds here).
TEST(RewriteTime, IsLinearInTheProfile) {
    const ShapeCase shapes[] = {
        {"unclosed pairs", "<mapfiles>a\n<showraster>0\n", 64000, 128000, {64000, false, 64000}},
        {"unclosed tags among markup",
         "<x><mapfiles>a\n<y><showraster>0\n",
         64000,
         128000,
         {64000, false, 64000}},
        {"two-line elements",
         "<mapfiles>a,\nb</mapfiles>\n<showraster>\n0</showraster>\n",
         20000,
         40000,
         {20000, false, 20000}},
        {"tags on one line", "<mapfiles>a<showraster>", 64000, 1, {1, false, 1}},
    };
    for (const ShapeCase& shape : shapes) {
        std::string bytes = "\xEF\xBB\xBF";
        for (std::int32_t i = 0; i < shape.repeats; ++i) {
            bytes += shape.unit;
        }
        LineList list;
        list.LoadBytes(bytes);
        const auto start = std::chrono::steady_clock::now();
        const RewriteSummary summary = RewriteProfile(list);
        // The saved text is passed through without being kept.
        EXPECT_FALSE(list.SavesAsLoaded()) << shape.name;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_LT(elapsed.count(), SecondsAllowedHere()) << shape.name;
        EXPECT_EQ(list.LineCount(), shape.linesAfter) << shape.name;
        EXPECT_EQ(summary.mapFilesLinesSet, shape.summary.mapFilesLinesSet) << shape.name;
        EXPECT_EQ(summary.rasterLinesSet, shape.summary.rasterLinesSet) << shape.name;
        EXPECT_FALSE(summary.mapFilesLineInserted) << shape.name;
    }
}

TEST(MapFilesLine, IsTheEighteenTilesInOrder) {
    std::vector<std::string> names;
    for (int a : {45, 47, 49}) {
        for (int b : {5, 7, 9, 11, 13, 15}) {
            names.push_back(std::to_string(a) + std::to_string(b) + "-" + std::to_string(a - 2) +
                            std::to_string(b + 2) + "-vqd-contrast.cmr");
        }
    }
    std::sort(names.begin(), names.end());
    std::string line = "    <mapfiles>";
    for (std::size_t i = 0; i < names.size(); ++i) {
        line += (i ? "," : "") + names[i];
    }
    line += "</mapfiles>";
    EXPECT_EQ(ToUtf8(MapFilesLine), line);
}

TEST(InsertFails, ShortProfilesWithoutMapFilesRaiseTheInsertIndex) {
    for (std::int32_t count = 0; count <= 3; ++count) {
        LineList list =
            ListOf(Lines(static_cast<std::size_t>(count), u"<showraster>0</showraster>"));
        try {
            RewriteProfile(list);
            ADD_FAILURE() << count << " lines: no error";
        } catch (const LineIndexError& error) {
            EXPECT_EQ(error.Message(),
                      u"Index de liste hors limites (4).  L'intervalle de LineList est 0.." +
                          Text(1, static_cast<char16_t>(u'0' + count)));
        }
    }
}

struct FileCase {
    const char* name;
    std::string before;
    std::string after;
};

// ASCII text as UTF-16LE bytes.
std::string Utf16Le(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

// The whole job on files: bytes in, bytes out, in each encoding.
TEST(ApplyMapSet, RewritesFilesInTheirEncoding) {
    const std::string map = ToUtf8(MapFilesLine);
    const std::string raster = "        <showraster>1</showraster>";
    const FileCase cases[] = {
        {"utf8 with lf", "\xEF\xBB\xBF<lx>\n<mapfiles>a</mapfiles>\n<showraster>0</showraster>\n",
         "\xEF\xBB\xBF<lx>\r\n" + map + "\r\n" + raster + "\r\n"},
        {"no mark, last line without break", "1\n2\n3\n4\n5",
         "1\r\n2\r\n3\r\n4\r\n" + map + "\r\n5\r\n"},
        {"utf16", "\xFF\xFE" + Utf16Le("a\nb\nc\nd\n<showraster>0</showraster>\n"),
         "\xFF\xFE" + Utf16Le("a\r\nb\r\nc\r\nd\r\n" + map + "\r\n" + raster + "\r\n")},
    };
    for (const FileCase& c : cases) {
        TempFolder folder;
        WriteBytes(folder / "p.xml", c.before);
        ApplyMapSet(AsText(folder / "p.xml"));
        EXPECT_EQ(ReadBytes(folder / "p.xml"), c.after) << c.name;
        EXPECT_TRUE(ProfileHoldsMapSet(AsText(folder / "p.xml"))) << c.name;
        ApplyMapSet(AsText(folder / "p.xml"));
        EXPECT_EQ(ReadBytes(folder / "p.xml"), c.after) << c.name << ", second run";
        EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
    }
}

TEST(ApplyMapSet, AMissingProfileIsReportedAndNotMade) {
    TempFolder folder;
    EXPECT_THROW(ApplyMapSet(AsText(folder / "missing.xml")), FileOpenError);
    EXPECT_EQ(folder.Names(), std::set<std::string>{});
}

struct RefusedCase {
    const char* name;
    std::string bytes;
    const std::type_info& error;
};

// A profile that cannot be read, or has no fifth line to insert before, reports why and is not
// written.
TEST(ApplyMapSet, RefusedProfilesAreLeftAsTheyWere) {
    const RefusedCase cases[] = {
        {"invalid utf8", "\xEF\xBB\xBF<lx>\xFF\n", typeid(EncodingError)},
        {"empty", "", typeid(LineIndexError)},
        {"mark only", "\xEF\xBB\xBF", typeid(LineIndexError)},
        {"one line", "<showraster>0</showraster>\n", typeid(LineIndexError)},
    };
    for (const RefusedCase& c : cases) {
        TempFolder folder;
        WriteBytes(folder / "p.xml", c.bytes);
        try {
            ApplyMapSet(AsText(folder / "p.xml"));
            ADD_FAILURE() << c.name << ": no error";
        } catch (const Error& error) {
            EXPECT_EQ(typeid(error), c.error) << c.name;
        }
        EXPECT_EQ(ReadBytes(folder / "p.xml"), c.bytes) << c.name;
        EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"}) << c.name;
    }
}

}  // namespace
