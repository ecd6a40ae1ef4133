#include <gtest/gtest.h>

#include "app/SystemError.h"
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

}  // namespace
