// The table of status texts both front ends show.
#include "text/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "join/join.h"

namespace mpg {
namespace {

bool hasCyrillic(const std::string& s) {
    // Cyrillic letters are two bytes in UTF-8, the first 0xD0 or 0xD1.
    for (const unsigned char c : s) {
        if (c == 0xD0 || c == 0xD1) return true;
    }
    return false;
}

// Every message has its Russian text, and no two messages share a text (a
// copied line of the table). Their English is checked where the translations
// are loaded.
TEST(NumberText, GroupDigits) {
    EXPECT_EQ(groupDigits("0"), "0");
    EXPECT_EQ(groupDigits("999"), "999");
    EXPECT_EQ(groupDigits("1000"), "1'000");
    EXPECT_EQ(groupDigits("1234567"), "1'234'567");
    EXPECT_EQ(groupDigits("2048000"), "2'048'000");
    EXPECT_EQ(groupDigits("4294967295"), "4'294'967'295");
    EXPECT_EQ(groupDigits(""), "");
    EXPECT_EQ(progressOf(1234567, 9876543), "1'234'567 >> 9'876'543");
}

TEST(Messages, EveryMessageHasItsText) {
    std::set<std::string> texts;
    for (int m = 0; m < kMessageCount; ++m) {
        const std::string text = messageText(static_cast<Message>(m));
        EXPECT_TRUE(hasCyrillic(text)) << m << ": " << text;
        EXPECT_TRUE(texts.insert(text).second) << m << ": " << text;
    }
}

// Each core result the front ends report names a message: none falls
// through to an empty status line.
TEST(Messages, EveryResultHasAText) {
    for (CheckResult r :
         {CheckResult::Ok, CheckResult::NoName, CheckResult::OpenFailed, CheckResult::NoSignature,
          CheckResult::NoSystemHeader, CheckResult::NotRegular, CheckResult::ReadFailed}) {
        EXPECT_NE(checkResultText(r), "") << int(r);
    }
    for (int k = 0; k <= int(FailureKind::NothingSaved); ++k) {
        const Failure f = failureOf(static_cast<FailureKind>(k), "in.mpg");
        EXPECT_EQ(failureHeadline(f).empty(), !f) << k;
        EXPECT_NE(saveResultText(f), "") << k;
        EXPECT_NE(joinResultText(f), "") << k;
    }
}

// Without translations the texts are the Russian sources, the counts in
// them grouped; the count that picks a plural form reaches the lookup.
class RecordedCounts : public Translations {
  public:
    std::string find(Language, const char*, const char* source, const char*,
                     int64_t n) const override {
        counts.push_back(n);
        (void)source;
        return std::string();
    }
    mutable std::vector<int64_t> counts;
};

TEST(Messages, ScanEndCountsBlocksAndBrokenOnes) {
    EXPECT_EQ(scanDoneText(3412, 4, nullptr), "поиск завершен: 3'412 блоков, 4 с ошибками");
    EXPECT_EQ(scanDoneText(0, 0, nullptr), "поиск завершен: 0 блоков, 0 с ошибками");
    const StreamCodes codes(0x1C0, 0x1E0);
    EXPECT_EQ(scanDoneText(1'234'567, 1'000, &codes),
              "поиск завершен: 1'234'567 блоков, 1'000 с ошибками; найдены потоки: C0 E0");
    EXPECT_EQ(scanStoppedText(12, 3), "прервано пользователем: 12 блоков, 3 с ошибками");
    // A video CD rip's faulty sectors stand beside the broken blocks, also
    // when there are none: the checksums were checked.
    EXPECT_EQ(scanDoneText(164, 1, 2, &codes),
              "поиск завершен: 164 блоков, 1 с ошибками, сбойных секторов: 2; найдены потоки: C0 "
              "E0");
    EXPECT_EQ(scanStoppedText(12, 3, 1'234),
              "прервано пользователем: 12 блоков, 3 с ошибками, сбойных секторов: 1'234");

    RecordedCounts recorded;
    installTranslations(&recorded);
    (void)blockCountsText(21, 4);
    installTranslations(nullptr);
    // The blocks choose the form, not the broken ones.
    EXPECT_EQ(recorded.counts, std::vector<int64_t>{21});
}

TEST(Messages, HammerSummaryOfEachStrategy) {
    StrategyOutcome o;
    o.fixed = 3;
    o.remeasured = 2;
    o.bytesCut = 1234;
    o.left = 1;
    EXPECT_EQ(strategySummaryText(Strategy::RemoveRunsEqualToDelta, o),
              "исправлено строк: 3, вырезано 1'234 байт, осталось: 1");
    EXPECT_EQ(strategySummaryText(Strategy::RemoveRunsAndRemeasure, o),
              "укорочено строк: 2, вырезано 1'234 байт, осталось: 1");
    EXPECT_EQ(strategySummaryText(Strategy::AcceptRealSizes, o),
              "исправлено строк: 3, осталось: 1");
    o.summary = {5, 3, 1, 1};
    EXPECT_EQ(strategySummaryText(Strategy::Automatic, o),
              "блоков: 5; восстановлено точно: 3, стали декодируемыми: 1, не решено: 1; "
              "вырезано 1'234 байт");

    RecordedCounts recorded;
    installTranslations(&recorded);
    (void)strategySummaryText(Strategy::RemoveRunsEqualToDelta, o);
    installTranslations(nullptr);
    // The bytes choose the form of "байт", not the rows.
    EXPECT_EQ(recorded.counts, std::vector<int64_t>{1234});
}

}  // namespace
}  // namespace mpg
