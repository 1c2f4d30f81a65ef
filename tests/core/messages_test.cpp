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

// Every message has its Russian text, and no two messages share a text (a
// copied line of the table). Their English is checked where the translations
// are loaded.
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
    for (int k = 0; k <= int(FailureKind::BadStructure); ++k) {
        const Failure f = failureOf(static_cast<FailureKind>(k), "in.mpg");
        EXPECT_EQ(failureHeadline(f).empty(), !f) << k;
        EXPECT_NE(saveResultText(f), "") << k;
        for (JoinResult result : {JoinResult::Done, JoinResult::Failed, JoinResult::Stopped}) {
            EXPECT_NE(joinResultText(result, f), "") << k << " " << int(result);
        }
    }
}

}  // namespace
}  // namespace mpg
