// fpack's archives: round trips of real folder trees, what c writes, and the
// unpacker's codes as t and x give them.
#include <gtest/gtest.h>

#include "FpackRunner.h"
#include "PackTestUtil.h"
#include "TestSupport.h"
#include "FolderPack.h"

#include <string.h>
#include <string>
#include <vector>

using namespace pt;

namespace {

constexpr uint64_t kFixedTime = 132000000000000000ull;

class Fpack : public fr::FpackTest {
  protected:
    void SetUp() override {
        FpackTest::SetUp();
        dest_ = work_ + "\\dest";
        archive_ = work_ + "\\a.fpk";
    }

    // A tree with what a payload may hold.
    void MakeSource() {
        ASSERT_TRUE(MakeDirAt(src_ + "\\sub\\inner"));
        ASSERT_TRUE(MakeDirAt(src_ + "\\empty"));
        ASSERT_TRUE(MakeDirAt(src_ + "\\能\\表"));
        ASSERT_TRUE(WriteFileAt(src_ + "\\small.txt", "hi\r\n"));
        ASSERT_TRUE(WriteFileAt(src_ + "\\text.txt", Compressible(50000)));
        ASSERT_TRUE(WriteFileAt(src_ + "\\random.bin", Random(30000)));
        ASSERT_TRUE(WriteFileAt(src_ + "\\zero", ""));
        ASSERT_TRUE(WriteFileAt(src_ + "\\sub\\big.txt", Compressible(7 << 20, 3)));
        ASSERT_TRUE(WriteFileAt(src_ + "\\sub\\inner\\ro.txt", "read only"));
        ASSERT_TRUE(WriteFileAt(src_ + "\\sub\\hidden.txt", "hidden"));
        ASSERT_TRUE(WriteFileAt(src_ + "\\能\\表\\ソ.txt", "so"));
        std::string deep = src_ + "\\deep";
        while (deep.size() < 320)
            deep += "\\" + std::string(50, 'q');
        ASSERT_TRUE(MakeDirAt(deep));
        deepFile_ = deep.substr(src_.size() + 1) + "\\deep.txt";
        ASSERT_TRUE(WriteFileAt(src_ + "\\" + deepFile_, "deep"));
        ASSERT_TRUE(
            SetFileAttributesA((src_ + "\\sub\\inner\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(SetFileAttributesA((src_ + "\\sub\\hidden.txt").c_str(),
                                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    }

    std::string dest_, archive_, deepFile_;
};

TEST_F(Fpack, RoundTripReproducesTheTree) {
    MakeSource();
    ASSERT_EQ(0, Tool("c a.fpk src").status);
    fr::Result r = Tool("x a.fpk dest");
    ASSERT_EQ(0, r.status) << r.err;
    const std::vector<std::string> tree = Tree(src_);
    EXPECT_EQ(tree, Tree(dest_));
    EXPECT_EQ(21u, tree.size());
    for (const std::string& entry : tree) {
        const std::string a = src_ + "\\" + entry, b = dest_ + "\\" + entry;
        EXPECT_EQ(AttributesAt(a), AttributesAt(b)) << entry;
        if (entry.back() == '\\')
            continue;
        std::string ca, cb;
        ASSERT_TRUE(ReadFileAt(a, ca));
        ASSERT_TRUE(ReadFileAt(b, cb)) << entry;
        EXPECT_TRUE(ca == cb) << entry;
        EXPECT_EQ(LastWriteAt(a), LastWriteAt(b)) << entry;
    }
    EXPECT_TRUE(AttributesAt(dest_ + "\\sub\\inner\\ro.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(AttributesAt(dest_ + "\\sub\\hidden.txt") & FILE_ATTRIBUTE_HIDDEN);
    // Folders are stamped after their contents.
    EXPECT_EQ(LastWriteAt(src_ + "\\sub"), LastWriteAt(dest_ + "\\sub"));
    EXPECT_EQ(LastWriteAt(src_ + "\\能\\表"), LastWriteAt(dest_ + "\\能\\表"));

    // Again over the result: every file is replaced, read-only ones too.
    ASSERT_TRUE(WriteFileAt(dest_ + "\\small.txt", "changed"));
    EXPECT_EQ(0, Tool("x a.fpk dest").status);
    std::string small;
    ASSERT_TRUE(ReadFileAt(dest_ + "\\small.txt", small));
    EXPECT_EQ("hi\r\n", small);
    // Without overwriting: the first existing file ends it, and is named.
    r = Tool("x --no-overwrite a.fpk dest");
    EXPECT_EQ(11, r.status);
    EXPECT_NE(std::string::npos, r.err.find("a.fpk: record 1 \"deep\\qqq")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("error -11: an existing file was not replaced: dest\\"))
        << r.err;
}

TEST_F(Fpack, ListShowsStoredAndCompressedChunks) {
    MakeSource();
    ASSERT_EQ(0, Tool("c a.fpk src").status);
    const auto records = Records("a.fpk");
    // kind, attributes, size, chunks, stored, compressed (times follow)
    const struct {
        std::string name;
        std::vector<std::string> fields;
    } cases[] = {
        {"small.txt", {"FILE", "00000020", "4", "1", "1", "0"}},
        {"text.txt", {"FILE", "00000020", "50000", "1", "0", "1"}},
        {"random.bin", {"FILE", "00000020", "30000", "1", "1", "0"}},
        {"zero", {"FILE", "00000020", "0", "0", "0", "0"}},
        {"sub\\big.txt", {"FILE", "00000020", "7340032", "2", "0", "2"}},
        {"sub\\inner\\ro.txt", {"FILE", "00000021", "9", "1", "1", "0"}},
        {"sub\\hidden.txt", {"FILE", "00000022", "6", "1", "1", "0"}},
        {"能\\表", {"FLDR", "00000010", "0", "0", "0", "0"}},
        {"empty", {"FLDR", "00000010", "0", "0", "0", "0"}},
        {deepFile_, {"FILE", "00000020", "4", "1", "1", "0"}},
    };
    EXPECT_EQ(21u, records.size());
    for (const auto& c : cases) {
        ASSERT_TRUE(records.count(c.name)) << c.name;
        const std::vector<std::string>& f = records.at(c.name);
        EXPECT_EQ(c.fields, std::vector<std::string>(f.begin(), f.begin() + 6)) << c.name;
    }
    const fr::Result r = Tool("l a.fpk");
    EXPECT_NE(std::string::npos, r.out.find("total: 21 records (9 files, 12 folders)")) << r.out;
    EXPECT_EQ(0, Tool("t a.fpk").status);
}

TEST_F(Fpack, FixedTimeMakesIdenticalArchives) {
    MakeSource();
    const std::string time = std::to_string(kFixedTime);
    ASSERT_EQ(0, Tool("c a.fpk src --time " + time).status);
    // Other times on disk do not matter, nor where the option stands.
    ASSERT_TRUE(WriteFileAt(src_ + "\\small.txt", "hi\r\n"));
    ASSERT_EQ(0, Tool("--time=" + time + " c b.fpk src\\\\").status);
    EXPECT_TRUE(ts::ReadBytes(archive_) == ts::ReadBytes(work_ + "\\b.fpk"));
    ASSERT_EQ(0, Tool("x a.fpk dest").status);
    for (const std::string& entry : Tree(dest_))
        EXPECT_EQ(kFixedTime, LastWriteAt(dest_ + "\\" + entry)) << entry;
}

TEST_F(Fpack, EmptyFolderGivesAnEmptyArchive) {
    ASSERT_TRUE(MakeDirAt(src_));
    ASSERT_EQ(0, Tool("c a.fpk src").status);
    EXPECT_EQ(std::string("Folder Pack\0\xE8\x03\0\0\0\0\0\0", 20), ts::ReadBytes(archive_));
    EXPECT_EQ(0, Tool("x a.fpk dest").status);
    EXPECT_FALSE(ts::Exists(dest_));
}

TEST_F(Fpack, TestAndExtractExitWithTheNegatedCode) {
    const std::string good = Header(2) + FileRecord("a.txt", Compressible(3000)) +
                             FileHead("b.txt", 0x20, 0, 0, 5) + StoredChunk("bbbbb") + End();
    struct Case {
        std::string bytes;
        int code;
        const char* where; // what the message names before the code
        const char* words;
    } cases[] = {
        {good, 0, "", "OK"},
        {good.substr(0, good.size() - 3), 8, "a.fpk: record 2 \"b.txt\": ", "truncated"},
        {good.substr(0, 22), 8, "a.fpk: record 1: ", "truncated"},
        {"Folder Pack!" + good.substr(12), 9, "a.fpk: ", "bad signature"},
        {Header(1) + FileRecord("..\\x", "x"), 9, "a.fpk: record 1 \"..\\x\": ", "refused"},
        {Header(1) + FileHead("c.txt", 0x20, 0, 0, 6) + StoredChunk("ccccc") + End(), 10,
         "a.fpk: record 1 \"c.txt\": ", "do not add up"},
        {Header(1) + FileHead("d.txt", 0x20, 0, 0, 3000) +
             Chunk(static_cast<uint32_t>(4 + Deflate(Compressible(3000)).size()), 3000,
                   Deflate(Compressible(3001))) +
             End(),
         2, "a.fpk: record 1 \"d.txt\": ", "inflated"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ts::WriteBytes(archive_, c.bytes));
        ts::RemoveTree(dest_);
        for (const char* command : {"t a.fpk", "x a.fpk dest"}) {
            const fr::Result r = Tool(command);
            EXPECT_EQ(c.code, r.status) << command << "\n" << r.err;
            const std::string expected =
                c.code == 0 ? "" : std::string(c.where) + "error -" + std::to_string(c.code);
            EXPECT_NE(std::string::npos, r.err.find(expected)) << command << "\n" << r.err;
            if (c.code != 0 || command[0] == 't') {
                EXPECT_NE(std::string::npos, (r.out + r.err).find(c.words)) << r.out << r.err;
            }
        }
        ts::RemoveTree(dest_);
    }
}

TEST_F(Fpack, MissingArchiveIsReportedWithoutCreatingIt) {
    for (const char* command : {"x missing.fpk dest", "t missing.fpk", "l missing.fpk"}) {
        const fr::Result r = Tool(command);
        EXPECT_EQ(6, r.status) << command;
        EXPECT_NE(std::string::npos,
                  r.err.find("missing.fpk: error -6: the archive could not be opened: " +
                             fr::SystemText(ERROR_FILE_NOT_FOUND)))
            << r.err;
    }
    EXPECT_TRUE(Tree(work_).empty());
}

} // namespace
