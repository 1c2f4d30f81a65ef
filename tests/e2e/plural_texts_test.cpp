// The texts that count something, in the forms their number asks for: the
// Russian sources spell one form, the compiled translations hold the others
// (1 блок, 2 блока, 5 блоков; 1 block, 2 blocks). The translations are
// installed for every test of this program (cli_run.cpp).
#include <gtest/gtest.h>

#include <string>

#include "i18n/qt_translations.h"
#include "text/messages.h"

namespace mpg {
namespace {

// The numbers whose Russian forms differ: one, few, many, the teens that
// take "many", and the twenties that take "one" again.
constexpr uint64_t kCounts[] = {1, 2, 5, 11, 21};

// Skips a language whose compiled translation lacks the plural forms of
// `source`: texts new to the sources reach the translation files when they
// are next brought up to date.
bool compiled(Language language, const char* source) {
    return !QtTranslations().find(language, "Message", source, nullptr, 1).empty();
}

TEST(PluralTexts, BlockCountsAgreeWithTheirNumber) {
    const char* source = "%n блоков, %1 с ошибками";
    if (!compiled(Language::Russian, source)) GTEST_SKIP() << "no Russian forms yet: " << source;
    const std::string russian[] = {"1 блок", "2 блока", "5 блоков", "11 блоков", "21 блок"};
    for (size_t k = 0; k < std::size(kCounts); ++k) {
        EXPECT_EQ(blockCountsText(kCounts[k], 3, Language::Russian), russian[k] + ", 3 с ошибками");
    }
    // The broken ones do not choose the form; large counts group their digits.
    EXPECT_EQ(blockCountsText(3412, 1, Language::Russian), "3'412 блоков, 1 с ошибками");
    EXPECT_EQ(blockCountsText(1'000'001, 2, Language::Russian), "1'000'001 блок, 2 с ошибками");
    EXPECT_EQ(scanDoneText(22, 2, nullptr, Language::Russian),
              "поиск завершен: 22 блока, 2 с ошибками");
    if (!compiled(Language::English, source)) GTEST_SKIP() << "no English yet: " << source;
    EXPECT_EQ(blockCountsText(1, 0, Language::English), "1 block, 0 broken");
    EXPECT_EQ(blockCountsText(3412, 4, Language::English), "3'412 blocks, 4 broken");
}

TEST(PluralTexts, BytesCutAgreeWithTheirNumber) {
    const char* source = "исправлено строк: %1, вырезано %n байт, осталось: %2";
    if (!compiled(Language::Russian, source)) GTEST_SKIP() << "no Russian forms yet: " << source;
    const std::string russian[] = {"вырезан 1 байт", "вырезано 2 байта", "вырезано 5 байт",
                                   "вырезано 11 байт", "вырезан 21 байт"};
    for (size_t k = 0; k < std::size(kCounts); ++k) {
        StrategyOutcome o;
        o.fixed = 2;
        o.bytesCut = kCounts[k];
        o.left = 1;
        EXPECT_EQ(strategySummaryText(Strategy::RemoveRunsEqualToDelta, o, Language::Russian),
                  "исправлено строк: 2, " + russian[k] + ", осталось: 1");
    }
}

}  // namespace
}  // namespace mpg
