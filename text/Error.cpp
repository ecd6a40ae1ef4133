#include "Error.h"

#include <limits>
#include <string>

namespace {

// The name of the line list type that the index messages show.
constexpr TextView lineListTypeName = u"LineList";

Text Decimal(std::int64_t value) {
    const std::string digits = std::to_string(value);
    return Text(digits.begin(), digits.end());
}

}  // namespace

Error::Error(Text message) : message_(std::move(message)), utf8_(ToUtf8(message_)) {}

FileOpenError::FileOpenError(TextView fullPath, TextView systemText)
    : Error(Text(u"Impossible d'ouvrir le fichier \"") + Text(fullPath) + u"\". " +
            Text(systemText)) {}

EncodingError::EncodingError()
    : Error(
          u"Aucun mappage pour le caractère Unicode n'existe dans la page de code multi-octet "
          u"cible") {}

LineIndexError::LineIndexError(std::int32_t index, std::int32_t upperBound)
    : Error(u"Index de liste hors limites (" + Decimal(index) + u").  L'intervalle de " +
            Text(lineListTypeName) + u" est 0.." + Decimal(upperBound)) {}

TooManyLinesError::TooManyLinesError()
    : Error(u"Le fichier a trop de lignes (plus de " +
            Decimal(std::numeric_limits<std::int32_t>::max()) + u")") {}

FileCreateError::FileCreateError(TextView fullPath, TextView systemText)
    : Error(Text(u"Impossible de créer le fichier \"") + Text(fullPath) + u"\". " +
            Text(systemText)) {}

FileWriteError::FileWriteError() : Error(u"Erreur d'écriture dans le flux") {}

FileWriteError::FileWriteError(TextView systemText)
    : Error(u"Erreur d'écriture dans le flux: " + Text(systemText)) {}

Text TrimSystemText(Text text) {
    while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) {
        text.pop_back();
    }
    return text;
}
