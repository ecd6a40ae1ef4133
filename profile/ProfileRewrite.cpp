#include "profile/ProfileRewrite.h"

#include <algorithm>
#include <optional>

#include "text/FileBytes.h"

namespace {

// An element whose value the rewrite sets, and the line that stands for it alone.
struct Element {
    TextView openingTag;
    TextView closingTag;
    TextView fixedLine;
    TextView otherOpeningTag;  // of the other element the rewrite sets

    // The element with the new value, as the fixed line holds it after its indentation.
    TextView Whole() const { return fixedLine.substr(fixedLine.find(openingTag)); }
};

constexpr Element mapFiles{MapFilesTag, u"</mapfiles>", MapFilesLine, ShowRasterTag};
constexpr Element showRaster{ShowRasterTag, u"</showraster>", ShowRasterLine, MapFilesTag};

bool IsBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

// Whether the line holds nothing but the element, with blanks around it.
bool IsOnly(TextView line, TextView element) {
    while (!line.empty() && IsBlank(line.front())) {
        line.remove_prefix(1);
    }
    while (!line.empty() && IsBlank(line.back())) {
        line.remove_suffix(1);
    }
    return line == element;
}

class ElementSetter {
  public:
    explicit ElementSetter(const Element& element) : element_(element) {}

    // Sets every element that begins on line `index`, keeping the rest of the line; an element
    // that goes on over later lines is replaced whole, up to its closing tag. Returns whether the
    // line held the opening tag.
    //
    // The other element must stay set: where the text that an element would replace holds the
    // other element's opening tag (an element without closing tag, or one wrapped around the
    // other), the opening tag alone becomes the element and the rest stays as it is.
    bool Set(LineList& profile, std::int32_t index) {
        Text result = profile.GetLine(index);
        std::size_t at = result.find(element_.openingTag);
        if (at == Text::npos) {
            return false;
        }
        const TextView whole = element_.Whole();
        const TextView other = element_.otherOpeningTag;
        while (at != Text::npos) {
            const std::size_t close = result.find(element_.closingTag, at);
            const std::optional<std::int32_t> last =
                close == Text::npos ? FindClosingLine(profile, index + 1) : std::nullopt;
            if (close != Text::npos) {
                const std::size_t end = close + element_.closingTag.size();
                if (TextView(result).substr(at, end - at).find(other) == Text::npos) {
                    result.replace(at, end - at, whole);
                } else {
                    result.replace(at, element_.openingTag.size(), whole);
                }
            } else if (last) {
                const Text lastLine = profile.GetLine(*last);
                const std::size_t end =
                    lastLine.find(element_.closingTag) + element_.closingTag.size();
                if (TextView(result).substr(at).find(other) == Text::npos &&
                    profile.FindLine(index + 1, other) >= *last &&
                    TextView(lastLine).substr(0, end).find(other) == Text::npos) {
                    result = result.substr(0, at) + Text(whole) + lastLine.substr(end);
                    profile.DeleteLines(index + 1, *last - index);
                } else {
                    result.replace(at, element_.openingTag.size(), whole);
                }
            } else if (result.find(other) == Text::npos) {
                // Nothing closes it: the whole line stands for the element.
                profile.ReplaceLine(index, element_.fixedLine);
                return true;
            } else {
                result.replace(at, element_.openingTag.size(), whole);
            }
            at = result.find(element_.openingTag, at + whole.size());
        }
        profile.ReplaceLine(index, IsOnly(result, whole) ? element_.fixedLine : TextView(result));
        return true;
    }

  private:
    std::optional<std::int32_t> FindClosingLine(const LineList& profile, std::int32_t from) {
        // Once a search has run to the end in vain, no later line can close an element either:
        // remembering it keeps many unclosed elements from costing a scan each.
        if (noClosingFrom_ && from >= *noClosingFrom_) {
            return std::nullopt;
        }
        const std::int32_t line = profile.FindLine(from, element_.closingTag);
        if (line < profile.LineCount()) {
            return line;
        }
        noClosingFrom_ = from;
        return std::nullopt;
    }

    const Element& element_;
    std::optional<std::int32_t> noClosingFrom_;
};

}  // namespace

RewriteSummary RewriteProfile(LineList& Profil) {
    RewriteSummary summary;
    bool trouve = false;
    ElementSetter mapFilesSetter(mapFiles);
    ElementSetter showRasterSetter(showRaster);
    // Every line is examined once, in order; the search for the next line holding either tag
    // skips the many lines that hold neither without reading them.
    std::int32_t nextMapFiles = Profil.FindLine(0, MapFilesTag);
    std::int32_t nextShowRaster = Profil.FindLine(0, ShowRasterTag);
    for (std::int32_t I = std::min(nextMapFiles, nextShowRaster); I < Profil.LineCount();
         I = std::min(nextMapFiles, nextShowRaster)) {
        const std::int32_t count = Profil.LineCount();
        bool heldMapFiles = false;
        bool heldShowRaster = false;
        // The raster rule reads the line after the map-files rule has changed it. An element
        // over several lines brings the rest of its last line onto this one, which may hold the
        // other tag: the line is then examined again, until it takes no more lines.
        for (std::int32_t before = -1; before != Profil.LineCount();) {
            before = Profil.LineCount();
            heldMapFiles = mapFilesSetter.Set(Profil, I) || heldMapFiles;
            heldShowRaster = showRasterSetter.Set(Profil, I) || heldShowRaster;
        }
        if (heldMapFiles) {
            trouve = true;
            ++summary.mapFilesLinesSet;
        }
        if (heldShowRaster) {
            ++summary.rasterLinesSet;
        }
        // An element over several lines took the lines after it: the next ones are sought anew.
        if (nextMapFiles == I || Profil.LineCount() != count) {
            nextMapFiles = Profil.FindLine(I + 1, MapFilesTag);
        }
        if (nextShowRaster == I || Profil.LineCount() != count) {
            nextShowRaster = Profil.FindLine(I + 1, ShowRasterTag);
        }
    }
    // A profile without lines fails here too, with the index of the insert.
    if (!trouve) {
        Profil.InsertLine(MapFilesInsertPosition, MapFilesLine);
        summary.mapFilesLineInserted = true;
    }
    return summary;
}

RewriteSummary ApplyMapSet(TextView path) {
    LineList Profil;
    Profil.LoadFile(path);
    const RewriteSummary summary = RewriteProfile(Profil);
    Profil.SaveFile(path);
    return summary;
}

bool ProfileHoldsMapSet(TextView path) {
    const std::string bytes = ReadFileBytes(path);
    LineList Profil;
    Profil.LoadBytes(bytes);
    RewriteProfile(Profil);
    return Profil.SaveBytes() == bytes;
}
