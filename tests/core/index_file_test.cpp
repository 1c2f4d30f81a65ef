#include "repair/index_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/temp_dir.h"

namespace mpg {
namespace {

const std::vector<BlockRecord> kSample = {
    {0x1BA, 0, 12},
    {0x1E0, 12, 2006, kBrokenListed, -5, 0xFF, 100, 7},
    {0x1C0, 3000000000u, -1, kBrokenAccepted, 2106, 0, 0xFFFFFFFFu, 0},
    {0x1B9, 4294967295u, 4},
};

BlockTable tableOf(const std::vector<BlockRecord>& entries) {
    BlockTable t;
    t.assign(entries);
    return t;
}

std::vector<uint8_t> encoded(const std::vector<BlockRecord>& entries) {
    std::vector<uint8_t> bytes(entries.size() * kBlockRecordSize);
    for (size_t i = 0; i < entries.size(); ++i) {
        encodeBlockRecord(entries[i], bytes.data() + i * kBlockRecordSize);
    }
    return bytes;
}

TEST(IndexFile, SavedBesideTheInputAndLoadedBack) {
    test::TempDir dir;
    const std::string input = dir.write("film.mpg", {0, 0, 1, 0xBA});
    const std::string path = indexFileName(input);
    EXPECT_EQ(path, dir.file("film.mpg.index"));
    dir.write("film.mpg.index", std::vector<uint8_t>(200, 0xEE));  // longer: must be truncated

    ASSERT_FALSE(saveIndexFile(tableOf(kSample), path, {input}));
    EXPECT_EQ(test::readFile(path), encoded(kSample));
    EXPECT_EQ(test::readFile(input), (std::vector<uint8_t>{0, 0, 1, 0xBA}));

    BlockTable loaded = tableOf({{0x1BB, 1, 18}});
    EXPECT_EQ(loadIndexFile(path, loaded), IndexLoad::Loaded);
    EXPECT_EQ(loaded.entries(), kSample);
}

TEST(IndexFile, TablesLargerThanOneWrite) {
    test::TempDir dir;
    std::vector<BlockRecord> many(100000);
    for (size_t i = 0; i < many.size(); ++i) many[i] = {0x1E0, static_cast<uint32_t>(i), 2006};
    ASSERT_FALSE(saveIndexFile(tableOf({many.begin(), many.begin() + 1000}), dir.file("a"), {}));
    EXPECT_EQ(std::filesystem::file_size(dir.file("a")), 26000u);

    ASSERT_FALSE(saveIndexFile(tableOf(many), dir.file("b"), {}));
    EXPECT_EQ(test::readFile(dir.file("b")), encoded(many));
    BlockTable loaded;
    ASSERT_EQ(loadIndexFile(dir.file("b"), loaded), IndexLoad::Loaded);
    EXPECT_EQ(loaded.entries(), many);
}

TEST(IndexFile, EmptyTableIsAnEmptyFile) {
    test::TempDir dir;
    ASSERT_FALSE(saveIndexFile(BlockTable{}, dir.file("e"), {}));
    EXPECT_TRUE(test::readFile(dir.file("e")).empty());
    BlockTable t = tableOf(kSample);
    EXPECT_EQ(loadIndexFile(dir.file("e"), t), IndexLoad::Loaded);
    EXPECT_TRUE(t.empty());
}

TEST(IndexFile, RefusedFilesLeaveTheTable) {
    test::TempDir dir;
    BlockTable t = tableOf(kSample);
    EXPECT_EQ(loadIndexFile(dir.write("odd", std::vector<uint8_t>(27)), t), IndexLoad::BadSize);
    EXPECT_EQ(loadIndexFile(dir.file("missing"), t), IndexLoad::Missing);
    EXPECT_EQ(loadIndexFile(dir.path(), t), IndexLoad::Unreadable);
    EXPECT_EQ(t.entries(), kSample);
}

TEST(IndexFile, SaveIntoMissingFolderFails) {
    test::TempDir dir;
    const Failure missing = saveIndexFile(tableOf(kSample), dir.file("no/such.index"), {});
    EXPECT_EQ(missing.kind, FailureKind::WriteFailed);
    EXPECT_EQ(missing.systemError, ENOENT);
    EXPECT_EQ(saveIndexFile(tableOf(kSample), dir.path(), {}).systemError, EISDIR);
}

// `ln -s v.mpg v.mpg.index` once turned the input into its own index.
TEST(IndexFile, AnIndexThatIsTheInputIsRefused) {
    test::TempDir dir;
    const std::vector<uint8_t> stream = {0, 0, 1, 0xBA, 0x44};
    const std::string input = dir.write("v.mpg", stream);
    const std::string index = indexFileName(input);
    const std::string second = dir.path() + "/./v.mpg";
    const auto refused = [&](const std::string& name) {
        const Failure f = saveIndexFile(tableOf(kSample), name, {input});
        EXPECT_EQ(f.kind, FailureKind::OutputIsInput) << name;
        EXPECT_EQ(test::readFile(input), stream) << name;
    };
    ASSERT_EQ(::symlink(input.c_str(), index.c_str()), 0);
    refused(index);
    ::unlink(index.c_str());
    ASSERT_EQ(::link(input.c_str(), index.c_str()), 0);
    refused(index);
    refused(second);
    // Nothing else was left in the folder: no temporary file.
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"v.mpg", "v.mpg.index"}));
}

}  // namespace
}  // namespace mpg
