// fpack as a program: create, list, test and extract, round trips of real
// folder trees, exit codes and messages.
#include <gtest/gtest.h>

#include "PackTestUtil.h"
#include "TestSupport.h"
#include "pack/FolderPack.h"

#include <string.h>
#include <string>
#include <vector>

using namespace pt;

namespace {

constexpr uint64_t kFixedTime = 132000000000000000ull;

class Fpack : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = ts::ScratchDir("fpack");
        src_ = dir_ + "\\src";
        dest_ = dir_ + "\\dest";
        archive_ = dir_ + "\\a.fpk";
    }
    void TearDown() override { ts::RemoveTree(dir_); }

    int Tool(const std::string& arguments) {
        return pt::Run(pt::Fpack() + " " + arguments, output_);
    }
    static std::string Q(const std::string& path) { return "\"" + path + "\""; }

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

    // The listing line of a record, by its name at the end.
    std::string LineOf(const std::string& name) {
        size_t at = 0;
        while ((at = output_.find(name + "\r\n", at)) != std::string::npos) {
            if (at > 0 && output_[at - 1] == ' ') {
                size_t begin = output_.rfind('\n', at);
                return output_.substr(begin + 1, at - begin - 1);
            }
            ++at;
        }
        return "";
    }
    // Fields of a listing line: kind, attributes, size, chunks, stored/compressed.
    std::vector<std::string> Fields(const std::string& name) {
        std::vector<std::string> fields;
        std::string line = LineOf(name);
        size_t at = 0;
        for (int i = 0; i < 5; ++i) {
            at = line.find_first_not_of(' ', at);
            if (at == std::string::npos)
                break;
            size_t end = line.find(' ', at);
            fields.push_back(line.substr(at, end - at));
            at = end;
        }
        return fields;
    }

    std::string dir_, src_, dest_, archive_, deepFile_, output_;
};

TEST_F(Fpack, RoundTripReproducesTheTree) {
    MakeSource();
    ASSERT_EQ(0, Tool("c " + Q(archive_) + " " + Q(src_))) << output_;
    ASSERT_EQ(0, Tool("x " + Q(archive_) + " " + Q(dest_))) << output_;
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
    EXPECT_EQ(0, Tool("x " + Q(archive_) + " " + Q(dest_))) << output_;
    std::string small;
    ASSERT_TRUE(ReadFileAt(dest_ + "\\small.txt", small));
    EXPECT_EQ("hi\r\n", small);
    // Without overwriting: the first existing file ends it.
    EXPECT_EQ(11, Tool("x " + Q(archive_) + " " + Q(dest_) + " --no-overwrite"));
    EXPECT_NE(std::string::npos, output_.find("-11")) << output_;
    EXPECT_NE(std::string::npos, output_.find("not replaced")) << output_;
}

TEST_F(Fpack, ListShowsStoredAndCompressedChunks) {
    MakeSource();
    ASSERT_EQ(0, Tool("c " + Q(archive_) + " " + Q(src_)));
    ASSERT_EQ(0, Tool("l " + Q(archive_))) << output_;
    // kind, attributes, size, chunks, stored/compressed
    EXPECT_EQ((std::vector<std::string>{"FILE", "00000020", "4", "1", "1/0"}), Fields("small.txt"));
    EXPECT_EQ((std::vector<std::string>{"FILE", "00000020", "50000", "1", "0/1"}),
              Fields("text.txt"));
    EXPECT_EQ((std::vector<std::string>{"FILE", "00000020", "30000", "1", "1/0"}),
              Fields("random.bin"));
    EXPECT_EQ((std::vector<std::string>{"FILE", "00000020", "0", "0", "0/0"}), Fields("zero"));
    EXPECT_EQ((std::vector<std::string>{"FILE", "00000020", "7340032", "2", "0/2"}),
              Fields("sub\\big.txt"));
    EXPECT_EQ((std::vector<std::string>{"FILE", "00000021", "9", "1", "1/0"}),
              Fields("sub\\inner\\ro.txt"));
    EXPECT_EQ((std::vector<std::string>{"FILE", "00000022", "6", "1", "1/0"}),
              Fields("sub\\hidden.txt"));
    EXPECT_EQ("FLDR", Fields("能\\表").at(0));
    EXPECT_EQ("FLDR", Fields("empty").at(0));
    EXPECT_EQ("FILE", Fields(deepFile_).at(0));
    EXPECT_NE(std::string::npos, output_.find("total: 21 records (9 files, 12 folders)"))
        << output_;
    EXPECT_EQ(0, Tool("t " + Q(archive_))) << output_;
}

TEST_F(Fpack, ArchiveBytesFollowTheWritingRules) {
    MakeSource();
    ASSERT_EQ(0, Tool("c " + Q(archive_) + " " + Q(src_)));
    const std::string a = ts::ReadBytes(archive_);
    ASSERT_GT(a.size(), 20u);
    EXPECT_EQ(0, memcmp(a.data(), "Folder Pack\0\xE8\x03\0\0", 16));
    int32_t count;
    memcpy(&count, a.data() + 16, 4);
    EXPECT_EQ(21, count);
    // Walk the records by their lengths: rest lengths are exact, reserved
    // fields and trailers zero, every compressed chunk starts 78 01.
    size_t at = 20;
    int compressed = 0;
    for (int i = 0; i < count; ++i) {
        ASSERT_LE(at + 4, a.size());
        const std::string tag = a.substr(at, 4);
        uint32_t n;
        if (tag == "FLDR") {
            memcpy(&n, a.data() + at + 8, 4);
            const size_t fixed = at + 12 + n;
            EXPECT_EQ(std::string(2, '\0'), a.substr(fixed, 2));
            EXPECT_EQ("FEND" + std::string(4, '\0'), a.substr(fixed + 22, 8));
            at = fixed + 30;
            continue;
        }
        ASSERT_EQ("FILE", tag);
        uint64_t rest;
        memcpy(&rest, a.data() + at + 4, 8);
        memcpy(&n, a.data() + at + 12, 4);
        const size_t end = at + 12 + rest;
        EXPECT_EQ(std::string(2, '\0'), a.substr(at + 16 + n, 2));
        size_t chunk = at + 46 + n;
        while (a.compare(chunk, 4, "FPCK") == 0) {
            uint32_t length, original;
            memcpy(&length, a.data() + chunk + 4, 4);
            memcpy(&original, a.data() + chunk + 8, 4);
            EXPECT_LE(length - 4, kFpMaxChunkData);
            if (length - 4 != original) {
                EXPECT_LT(length - 4, original);
                EXPECT_EQ("\x78\x01", a.substr(chunk + 12, 2));
                ++compressed;
            }
            chunk += 8 + length;
        }
        EXPECT_EQ(end, chunk + 8) << i;
        EXPECT_EQ("FEND" + std::string(4, '\0'), a.substr(chunk, 8));
        at = end;
    }
    EXPECT_EQ(a.size(), at);
    EXPECT_EQ(3, compressed); // text.txt and the two chunks of big.txt
}

TEST_F(Fpack, FixedTimeMakesIdenticalArchives) {
    MakeSource();
    const std::string second = dir_ + "\\b.fpk";
    const std::string time = " --time " + std::to_string(kFixedTime);
    ASSERT_EQ(0, Tool("c " + Q(archive_) + " " + Q(src_) + time));
    // Other times on disk do not matter.
    ASSERT_TRUE(WriteFileAt(src_ + "\\small.txt", "hi\r\n"));
    ASSERT_EQ(0, Tool("c " + Q(second) + " " + Q(src_ + "\\\\") + time));
    EXPECT_TRUE(ts::ReadBytes(archive_) == ts::ReadBytes(second));
    ASSERT_EQ(0, Tool("x " + Q(archive_) + " " + Q(dest_)));
    for (const std::string& entry : Tree(dest_))
        EXPECT_EQ(kFixedTime, LastWriteAt(dest_ + "\\" + entry)) << entry;
}

TEST_F(Fpack, ArchiveInsideTheSourceIsNotPackedIntoItself) {
    ASSERT_TRUE(MakeDirAt(src_));
    ASSERT_TRUE(WriteFileAt(src_ + "\\a.txt", "a"));
    const std::string inside = src_ + "\\self.fpk";
    ASSERT_TRUE(WriteFileAt(inside, "an older archive"));
    ASSERT_EQ(0, Tool("c " + Q(inside) + " " + Q(src_))) << output_;
    ASSERT_EQ(0, Tool("l " + Q(inside))) << output_;
    EXPECT_NE(std::string::npos, output_.find("total: 1 records (1 files, 0 folders)")) << output_;
    EXPECT_EQ(std::string::npos, output_.find("self.fpk")) << output_;
}

TEST_F(Fpack, EmptyFolderGivesAnEmptyArchive) {
    ASSERT_TRUE(MakeDirAt(src_));
    ASSERT_EQ(0, Tool("c " + Q(archive_) + " " + Q(src_)));
    EXPECT_EQ(std::string("Folder Pack\0\xE8\x03\0\0\0\0\0\0", 20), ts::ReadBytes(archive_));
    EXPECT_EQ(0, Tool("x " + Q(archive_) + " " + Q(dest_)));
    EXPECT_FALSE(ts::Exists(dest_));
}

TEST_F(Fpack, TestAndExtractExitWithTheNegatedCode) {
    const std::string good = Header(2) + FileRecord("a.txt", Compressible(3000)) +
                             FileHead("b.txt", 0x20, 0, 0, 5) + StoredChunk("bbbbb") + End();
    struct Case {
        std::string bytes;
        int code;
        const char* words;
    } cases[] = {
        {good, 0, "OK"},
        {good.substr(0, good.size() - 3), 8, "truncated"},
        {"Folder Pack!" + good.substr(12), 9, "bad signature"},
        {Header(1) + FileRecord("..\\x", "x"), 9, "name"},
        {Header(1) + FileHead("c.txt", 0x20, 0, 0, 6) + StoredChunk("ccccc") + End(), 10,
         "do not add up"},
        {Header(1) + FileHead("d.txt", 0x20, 0, 0, 3000) +
             Chunk(static_cast<uint32_t>(4 + Deflate(Compressible(3000)).size()), 3000,
                   Deflate(Compressible(3001))) +
             End(),
         2, "inflated"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ts::WriteBytes(archive_, c.bytes));
        ts::RemoveTree(dest_);
        EXPECT_EQ(c.code, Tool("t " + Q(archive_))) << output_;
        EXPECT_NE(std::string::npos, output_.find(c.words)) << output_;
        if (c.code != 0) {
            EXPECT_NE(std::string::npos, output_.find("error -" + std::to_string(c.code)));
        }
        // t writes nothing; x gives the same code.
        EXPECT_FALSE(ts::Exists(dest_));
        EXPECT_EQ(c.code, Tool("x " + Q(archive_) + " " + Q(dest_))) << output_;
    }
}

TEST_F(Fpack, MissingArchiveIsReportedWithoutCreatingIt) {
    const std::string missing = dir_ + "\\missing.fpk";
    EXPECT_EQ(6, Tool("x " + Q(missing) + " " + Q(dest_)));
    EXPECT_NE(std::string::npos, output_.find("not found")) << output_;
    EXPECT_EQ(6, Tool("t " + Q(missing)));
    EXPECT_EQ(6, Tool("l " + Q(missing)));
    EXPECT_TRUE(Tree(dir_).empty());
}

TEST_F(Fpack, UsageErrorsExit64) {
    ASSERT_TRUE(MakeDirAt(src_));
    for (const char* arguments :
         {"", "c", "q a b", "c a.fpk", "c a.fpk src --time", "c a.fpk src --time 12x",
          "c a.fpk src --time -5", "c a.fpk src --stamp 5", "x a.fpk", "x a.fpk d --overwrite", "l",
          "t a b", "cc a b"}) {
        EXPECT_EQ(64, Tool(arguments)) << arguments;
        EXPECT_NE(std::string::npos, output_.find("usage")) << arguments;
    }
    EXPECT_EQ(1, Tool("c " + Q(archive_) + " " + Q(dir_ + "\\nothere")));
    EXPECT_NE(std::string::npos, output_.find("not a folder")) << output_;
    EXPECT_FALSE(ts::Exists(archive_));
}

} // namespace
