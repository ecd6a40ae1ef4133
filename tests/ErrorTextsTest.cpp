#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "app/SystemError.h"
#include "text/Error.h"
#include "text/ErrorMessage.h"

namespace {

TEST(FullStopRule, AddedOnlyAfterCodeUnitsAboveTheFullStop) {
    struct Row {
        const char16_t* message;
        const char16_t* shown;
    };
    const Row rows[] = {
        {u"", u""},
        {u"Fin.", u"Fin."},
        {u"Fin)", u"Fin)"},
        {u"Fin!", u"Fin!"},
        {u"Fin-", u"Fin-"},
        {u"Fin ", u"Fin "},
        {u"Fin\r\n", u"Fin\r\n"},
        {u"Fin", u"Fin."},
        {u"Fin?", u"Fin?."},
        {u"Fin 9", u"Fin 9."},
        {u"C:/", u"C:/."},
        {u"a:", u"a:."},
        {u"[x]", u"[x]."},
        {u"créé", u"créé."},
        {u"Ligne 1.\r\nLigne 2", u"Ligne 1.\r\nLigne 2."},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(WithFullStop(r.message), r.shown) << ToUtf8(r.message);
    }
}

TEST(SystemErrorMessage, CodeAndSystemTextOrTheMessageWithoutCode) {
    EXPECT_EQ(SystemErrorMessage(5, u"Accès refusé"),
              u"Erreur système.  Code : 5.\r\nAccès refusé");
    EXPECT_EQ(SystemErrorMessage(1400, u""), u"Erreur système.  Code : 1400.\r\n");
    // An HRESULT-style code prints as the platform's signed integer.
    EXPECT_EQ(SystemErrorMessage(0x80004005u, u"x"), u"Erreur système.  Code : -2147467259.\r\nx");
    EXPECT_EQ(SystemErrorMessage(0, u"ignored"),
              u"Un appel à une fonction du système d'exploitation a échoué");
}

TEST(SystemErrorMessage, TheBoxShowsTheSystemTextTrimmedThenAFullStop) {
    // The system's text loses its trailing full stop and line break; the box adds one full stop.
    EXPECT_EQ(WithFullStop(SystemErrorMessage(5, TrimSystemText(u"Access denied. \r\n"))),
              u"Erreur système.  Code : 5.\r\nAccess denied.");
}

Text reported;

void Record(TextView message) {
    reported = Text(message);
}

// The window's error box and the tool's error line show the same message for each kind of error.
TEST(ReportCurrentError, EachKindOfErrorHasItsMessage) {
    struct Row {
        const char* kind;
        std::function<void()> raise;
        Text message;
    };
    const Row rows[] = {
        {"Error", [] { throw EncodingError(); }, EncodingError().Message()},
        {"bad_alloc", [] { throw std::bad_alloc(); }, Text(outOfMemoryMessage)},
        {"std::exception", [] { throw std::runtime_error("défaut"); }, u"défaut"},
        {"anything else", [] { throw 42; }, Text(unknownFailureMessage)},
    };
    for (const Row& row : rows) {
        reported = u"none";
        try {
            row.raise();
        } catch (...) {
            ReportCurrentError(&Record);
        }
        EXPECT_EQ(reported, row.message) << row.kind;
    }
}

}  // namespace
