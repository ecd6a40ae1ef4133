#include "profile/ProfileRewrite.h"

#include "text/EncodedText.h"
#include "text/FileBytes.h"

namespace {

// An element whose value the rewrite sets, and the line that stands for it alone.
struct Element {
    TextView openingTag;
    TextView closingTag;
    TextView fixedLine;

    // The element with the new value, as the fixed line holds it after its indentation.
    TextView Whole() const { return fixedLine.substr(fixedLine.find(openingTag)); }
};

constexpr Element mapFiles{MapFilesTag, u"</mapfiles>", MapFilesLine};
constexpr Element showRaster{ShowRasterTag, u"</showraster>", ShowRasterLine};

// Sets the elements of a loaded profile in one pass over its text, from one tag to the next: the
// lines between them are not looked at.
//
// An element is its opening tag, then text without "<", then its closing tag, on the same line or
// a later one; it takes the new value, and the lines it spans become one. A line that holds only
// the element, with blanks around it, becomes the fixed line. An opening tag that starts no
// element makes its whole line the fixed line when the line holds no other markup; otherwise the
// tag alone becomes the element and the rest of the line stays. So nothing but the elements and
// the lines of lone tags changes: no text of a comment, of CDATA or of another element is taken.
class ElementSetter {
  public:
    explicit ElementSetter(LineList& profile)
        : profile_(profile),
          text_(profile.LoadedText()),
          mapFilesTexts_{profile.AddText(mapFiles.Whole()), profile.AddText(mapFiles.fixedLine)},
          showRasterTexts_{profile.AddText(showRaster.Whole()),
                           profile.AddText(showRaster.fixedLine)} {}

    RewriteSummary SetAll() {
        std::size_t lineStart = 0;
        for (std::size_t tag = NextTag(0); tag < text_.Size();) {
            lineStart = text_.LineStart(tag, lineStart);
            tag = SetLine(lineStart, tag);
        }
        return summary_;
    }

  private:
    struct Texts {
        LineList::TextId whole;
        LineList::TextId fixedLine;
    };

    std::size_t NextTag(std::size_t from) const {
        return text_.FindEither(from, MapFilesTag, ShowRasterTag);
    }

    // Sets the elements of the line that starts at `lineStart` and holds a tag at `tag`, and of
    // the lines that they take with them; returns the first tag after that line.
    std::size_t SetLine(std::size_t lineStart, std::size_t tag) {
        bool heldMapFiles = false;
        bool heldShowRaster = false;
        std::size_t lineEnd = text_.LineEnd(tag);
        for (bool first = true;; first = false) {
            const bool isMapFiles = text_.HasAt(tag, MapFilesTag);
            (isMapFiles ? heldMapFiles : heldShowRaster) = true;
            const std::size_t end =
                isMapFiles
                    ? SetElement(mapFiles, mapFilesTexts_, lineStart, lineEnd, tag, first)
                    : SetElement(showRaster, showRasterTexts_, lineStart, lineEnd, tag, first);
            tag = NextTag(end);
            if (tag >= lineEnd) {
                summary_.mapFilesLinesSet += heldMapFiles ? 1 : 0;
                summary_.rasterLinesSet += heldShowRaster ? 1 : 0;
                return tag;
            }
        }
    }

    // Sets the element whose opening tag is at `tag`, on the line from `lineStart` to `lineEnd`
    // (which moves to the end of the last line an element takes); `first` tells that no element of
    // the line was set before. Returns where the line goes on.
    std::size_t SetElement(const Element& element, const Texts& texts, std::size_t lineStart,
                           std::size_t& lineEnd, std::size_t tag, bool first) {
        const std::size_t afterTag = tag + text_.SizeOf(element.openingTag);
        const std::size_t nextMarkup = text_.Find(afterTag, text_.Size(), u'<', u'<');
        if (text_.HasAt(nextMarkup, element.closingTag)) {
            const std::size_t end = nextMarkup + text_.SizeOf(element.closingTag);
            if (end > lineEnd) {
                lineEnd = text_.LineEnd(end);
            }
            if (first && text_.IsBlank(lineStart, tag) && text_.IsBlank(end, lineEnd)) {
                profile_.ReplaceText(lineStart, lineEnd, texts.fixedLine);
                return lineEnd;
            }
            profile_.ReplaceText(tag, end, texts.whole);
            return end;
        }
        if (first && nextMarkup >= lineEnd && text_.Find(lineStart, tag, u'<', u'>') == tag &&
            text_.Find(afterTag, lineEnd, u'>', u'>') == lineEnd) {
            // The line holds no other markup.
            profile_.ReplaceText(lineStart, lineEnd, texts.fixedLine);
            return lineEnd;
        }
        profile_.ReplaceText(tag, afterTag, texts.whole);
        return afterTag;
    }

    LineList& profile_;
    const EncodedText text_;
    const Texts mapFilesTexts_;
    const Texts showRasterTexts_;
    RewriteSummary summary_;
};

}  // namespace

RewriteSummary RewriteProfile(LineList& Profil) {
    RewriteSummary summary = ElementSetter(Profil).SetAll();
    const bool trouve = summary.mapFilesLinesSet > 0;
    // A profile without lines fails here too, with the index of the insert.
    if (!trouve) {
        Profil.InsertLine(MapFilesInsertPosition, MapFilesLine);
        summary.mapFilesLineInserted = true;
    }
    return summary;
}

RewriteSummary ApplyMapSet(TextView path) {
    // A rewrite of the profile cut short is made good before the profile is read.
    RecoverCutRewrite(path);
    LineList Profil;
    Profil.LoadFile(path);
    const RewriteSummary summary = RewriteProfile(Profil);
    Profil.SaveFile(path);
    return summary;
}

bool ProfileHoldsMapSet(TextView path) {
    LineList Profil;
    Profil.LoadFile(path);
    RewriteProfile(Profil);
    return Profil.SavesAsLoaded();
}
