// The table of status texts both front ends show.
#include "text/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

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

bool isPlainAscii(const std::string& s) {
    for (const unsigned char c : s) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// Every message has its Russian text and an English gloss, in the right
// columns, and no two messages share a text (a copied line of the table).
TEST(Messages, EveryMessageHasItsTextAndGloss) {
    std::set<std::string> texts, glosses;
    for (int m = 0; m < kMessageCount; ++m) {
        const Message message = static_cast<Message>(m);
        const std::string text = messageText(message), gloss = messageGloss(message);
        EXPECT_FALSE(text.empty()) << m;
        EXPECT_FALSE(gloss.empty()) << m;
        EXPECT_TRUE(hasCyrillic(text)) << m << ": " << text;
        EXPECT_TRUE(isPlainAscii(gloss)) << m << ": " << gloss;
        EXPECT_TRUE(texts.insert(text).second) << m << ": " << text;
        EXPECT_TRUE(glosses.insert(gloss).second) << m << ": " << gloss;
    }
}

// Each core result the front ends report names a message: none falls
// through to an empty status line.
TEST(Messages, EveryResultHasAText) {
    for (CheckResult r :
         {CheckResult::Ok, CheckResult::NoName, CheckResult::OpenFailed, CheckResult::NoSignature,
          CheckResult::NoSystemHeader, CheckResult::NotRegular, CheckResult::ReadFailed}) {
        EXPECT_STRNE(checkResultText(r), "") << int(r);
    }
    for (int k = 0; k <= int(FailureKind::BadStructure); ++k) {
        const Failure f = failureOf(static_cast<FailureKind>(k), "in.mpg");
        EXPECT_EQ(std::string(failureHeadline(f)).empty(), !f) << k;
        EXPECT_STRNE(saveResultText(f), "") << k;
        for (JoinResult result : {JoinResult::Done, JoinResult::Failed, JoinResult::Stopped}) {
            EXPECT_STRNE(joinResultText(result, f), "") << k << " " << int(result);
        }
    }
}

}  // namespace
}  // namespace mpg
