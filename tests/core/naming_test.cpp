#include "repair/naming.h"

#include <gtest/gtest.h>

#include <set>

#include "repair/index_file.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

ExistsFn present(std::set<std::string> files) {
    return [files = std::move(files)](const std::string& p) { return files.count(p) > 0; };
}

std::string outFor(const std::string& input, std::set<std::string> files = {}) {
    return outputNameFor(input, present(std::move(files)));
}

TEST(NamingNumExt, RecognisesDotAndThreeDigits) {
    EXPECT_TRUE(isNumberExtension(".001"));
    EXPECT_TRUE(isNumberExtension(".999"));
    EXPECT_FALSE(isNumberExtension(".x12"));
    EXPECT_FALSE(isNumberExtension("0001"));
    EXPECT_FALSE(isNumberExtension(".01"));
    EXPECT_FALSE(isNumberExtension(".0001"));
}

TEST(NamingNumExt, CountsOnPastThreeDigits) {
    EXPECT_EQ(nextNumberExtension("film.009"), "film.010");
    EXPECT_EQ(nextNumberExtension("film.099"), "film.100");
    EXPECT_EQ(nextNumberExtension("film.999"), "film.1000");
    EXPECT_EQ(nextNumberExtension("film.1000"), "film.1001");
    EXPECT_EQ(nextNumberExtension("film.1999"), "film.11000");
    EXPECT_EQ(nextNumberExtension("film"), "film.001");
}

TEST(NamingOutFN, NumberGoesBeforeTheExtension) {
    EXPECT_EQ(outFor("/video/Film.MPG"), "/video/film.001.mpg");
    EXPECT_EQ(outFor("/video/film.001.mpg"), "/video/film.002.mpg");
    EXPECT_EQ(outFor("/video/clip.mpg"), "/video/clip.001.mpg");
    EXPECT_EQ(outFor("/video/a.001.mpg"), "/video/a.002.mpg");
    EXPECT_EQ(outFor("/video/.001.mpg"), "/video/.001.001.mpg");
    EXPECT_EQ(outFor("/video/take.999.mpg"), "/video/take.1000.mpg");
    EXPECT_EQ(outFor("/video/film"), "/video/film.001");
    EXPECT_EQ(outFor("/video/film.x12.mpg"), "/video/film.x12.001.mpg");
    EXPECT_EQ(outFor("/my.dir/film"), "/my.dir/film.001");
}

// A rip re-wrapped into sectors stays a .dat, numbered past those there.
TEST(NamingOutFN, WrappedRipKeepsDat) {
    const ExistsFn none = present({});
    EXPECT_EQ(outputNameFor("/vcd/AVSEQ01.DAT", none, true), "/vcd/avseq01.001.dat");
    EXPECT_EQ(outputNameFor("/vcd/AVSEQ01.DAT", none, false), "/vcd/avseq01.001.mpg");
    EXPECT_EQ(outputNameFor("/vcd/a.dat", present({"/vcd/a.001.dat"}), true), "/vcd/a.002.dat");
    EXPECT_EQ(outputNameFor("/vcd/a.dat", present({"/vcd/a.001.dat"}), false), "/vcd/a.001.mpg");
}

// A name without a folder means the current folder, never the program's own.
TEST(NamingOutFN, BareNameStaysInTheCurrentFolder) {
    EXPECT_EQ(outFor("Film.mpg"), "film.001.mpg");
    EXPECT_EQ(outFor("film.mpg", {"film.001.mpg"}), "film.002.mpg");
    EXPECT_EQ(outFor("sub/film.mpg"), "sub/film.001.mpg");
}

// A name whose folder holds no files of ours (/dev/stdin, a descriptor's
// link) gets every derived file in the current folder, the index as the
// repaired stream; an ordinary folder keeps them beside the input.
TEST(NamingOutFN, SystemFoldersGiveTheCurrentFolder) {
    for (const char* input : {"/dev/stdin", "/dev/fd/0", "/proc/self/fd/0"}) {
        const std::string name = std::string(input).substr(std::string(input).rfind('/') + 1);
        EXPECT_EQ(derivedFolderFor(input), "") << input;
        EXPECT_EQ(outFor(input), name + ".001") << input;
        EXPECT_EQ(indexFileName(input), name + ".index") << input;
    }
    EXPECT_EQ(indexFileName("/video/film.mpg"), "/video/film.mpg.index");
    EXPECT_EQ(indexFileName("film.mpg"), "film.mpg.index");
    test::TempDir dir;
    const std::string input = dir.write("film.mpg", {});
    EXPECT_EQ(indexFileName(input), input + ".index");
    EXPECT_EQ(outputNameFor(input), dir.file("film.001.mpg"));
}

TEST(NamingOutFN, SkipsExistingNamesAsWritten) {
    EXPECT_EQ(outFor("/video/Film.MPG", {"/video/film.001.mpg", "/video/film.002.mpg"}),
              "/video/film.003.mpg");
    // The input's own spelling is never what gets written.
    EXPECT_EQ(outFor("/video/Film.MPG", {"/video/Film.001.MPG"}), "/video/film.001.mpg");
    EXPECT_EQ(outFor("/video/take.998.mpg", {"/video/take.999.mpg"}), "/video/take.1000.mpg");
}

TEST(NamingOutFN, LowerCasesOnlyTheFileName) {
    EXPECT_EQ(outFor("/Video/Film.MPG"), "/Video/film.001.mpg");
    EXPECT_EQ(outFor("/Видео/ФИЛЬМ.MPG"), "/Видео/фильм.001.mpg");
    // Ѐ..Џ and А..Я; Latin-1 capitals but not the multiplication sign.
    EXPECT_EQ(outFor("/v/ЀЁЏАЯ.mpg"), "/v/ѐёџая.001.mpg");
    EXPECT_EQ(outFor("/v/ÀÉÞ×ß.mpg"), "/v/àéþ×ß.001.mpg");
    // Greek, CJK and a four-byte character stay; a stray lead byte is kept.
    EXPECT_EQ(outFor("/v/ΣΩ映画😀\xC3.mpg"), "/v/ΣΩ映画😀\xC3.001.mpg");
}

TEST(NamingOutFN, RealFilesAreSkipped) {
    test::TempDir dir;
    const std::string input = dir.write("Take.MPG", {1, 2, 3});
    dir.write("take.001.mpg", {});
    EXPECT_EQ(outputNameFor(input), dir.file("take.002.mpg"));
    EXPECT_EQ(test::readFile(input), (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace mpg
