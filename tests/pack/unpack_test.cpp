// The Folder Pack unpacker on real archives and files under Wine: the
// format's checks, every result code with what it leaves on disk, names that
// would leave the destination, double-byte and long paths, truncation.
#include <gtest/gtest.h>

#include "FileLayer.h"
#include "LongPath.h"
#include "Owners.h"
#include "PackTestUtil.h"
#include "TestSupport.h"
#include "FolderPack.h"
#include "FolderPackReader.h"
#include "FolderPackWriter.h"

#include <algorithm>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>
#include <zlib.h>

using namespace pt;

namespace {

// 2001-01-01 and 2010-06-15, as FILETIMEs.
constexpr uint64_t kTimeA = 126227808000000000ull;
constexpr uint64_t kTimeB = 129210912000000000ull;
constexpr DWORD kNoReadOnlyHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

std::vector<std::string> g_overwriteCalls;
int AnswerYes(const char* path) {
    g_overwriteCalls.push_back(path);
    return 6;
}
int AnswerNo(const char* path) {
    g_overwriteCalls.push_back(path);
    return 7;
}

struct ProgressCall {
    int32_t item, count;
    uint64_t done, total;
    bool operator==(const ProgressCall& o) const {
        return item == o.item && count == o.count && done == o.done && total == o.total;
    }
};
std::vector<ProgressCall> g_progress;
int RecordProgress(int32_t item, int32_t count, uint64_t done, uint64_t total) {
    g_progress.push_back({item, count, done, total});
    return 0;
}

class Unpack : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = ts::ScratchDir("unpack");
        dest_ = dir_ + "\\dest";
        archive_ = dir_ + "\\a.fpk";
        g_overwriteCalls.clear();
        g_progress.clear();
    }
    void TearDown() override { ts::RemoveTree(dir_); }

    int Run(const std::string& bytes, OverwriteCallback overwrite = AnswerYes,
            ProgressCallback progress = nullptr) {
        return RunInto(dest_, bytes, overwrite, progress);
    }
    int RunInto(const std::string& dest, const std::string& bytes,
                OverwriteCallback overwrite = AnswerYes, ProgressCallback progress = nullptr) {
        EXPECT_TRUE(ts::WriteBytes(archive_, bytes));
        return ExtractFolderPack(dest.c_str(), archive_.c_str(), overwrite, progress);
    }
    std::string Read(const std::string& relative) {
        std::string data;
        EXPECT_TRUE(ReadFileAt(dest_ + "\\" + relative, data)) << relative;
        return data;
    }
    // What the scratch folder holds besides the destination's contents.
    std::vector<std::string> Outside() {
        std::vector<std::string> all = Tree(dir_), out;
        for (const std::string& e : all)
            if (e.compare(0, 5, "dest\\") != 0 || e == "dest\\")
                out.push_back(e);
        return out;
    }
    // The content, attributes and times of a file as a record left it.
    void ExpectStamped(const std::string& relative, DWORD attributes, uint64_t lastWrite) {
        const std::string path = dest_ + "\\" + relative;
        EXPECT_EQ(attributes & kNoReadOnlyHidden, AttributesAt(path) & kNoReadOnlyHidden)
            << relative;
        EXPECT_EQ(lastWrite, LastWriteAt(path)) << relative;
    }
    std::string dir_, dest_, archive_;
};

// ---- the format ----

TEST_F(Unpack, RecordCountZeroOrNegativeHoldsNothing) {
    EXPECT_EQ(kFpOk, Run(Header(0) + "anything after the count is not read"));
    EXPECT_EQ(kFpOk, Run(Header(-3) + FileRecord("a.txt", "x")));
    EXPECT_EQ(kFpOk, Run(Header(INT32_MIN)));
    EXPECT_FALSE(ts::Exists(dest_));
}

TEST_F(Unpack, HeaderValueIsNotChecked) {
    EXPECT_EQ(kFpOk, Run(Header(1, 0xDEADBEEF) + FileRecord("a.txt", "x")));
    EXPECT_EQ("x", Read("a.txt"));
    EXPECT_EQ(kFpOk, Run(Header(1, 0) + FileRecord("b.txt", "y")));
    EXPECT_EQ("y", Read("b.txt"));
}

TEST_F(Unpack, SignatureMustBeFolderPackAndNul) {
    const std::string rest = U32(1000) + U32(1) + FileRecord("a.txt", "x");
    EXPECT_EQ(kFpBadFormat, Run(std::string("Folder PackX", 12) + rest));
    EXPECT_EQ(kFpBadFormat, Run(std::string("folder pack\0", 12) + rest));
    EXPECT_EQ(kFpBadFormat, Run(std::string("Folder Pac\0\0", 12) + rest));
    EXPECT_EQ(kFpBadFormat, Run(std::string("\0older Pack\0", 12) + rest));
    EXPECT_FALSE(ts::Exists(dest_));
}

TEST_F(Unpack, HeaderCutShortIsTruncated) {
    const std::string header = Header(1);
    for (size_t n : {0u, 1u, 11u, 12u, 15u, 16u, 19u})
        EXPECT_EQ(kFpTruncated, Run(header.substr(0, n))) << n;
    EXPECT_FALSE(ts::Exists(dest_));
}

TEST_F(Unpack, UnknownRecordTagIsRefused) {
    EXPECT_EQ(kFpBadFormat, Run(Header(2) + FileRecord("a.txt", "x") + "FILX" + U64(0)));
    EXPECT_EQ("x", Read("a.txt"));
    EXPECT_EQ(kFpBadFormat, Run(Header(1) + "FEND" + U32(0)));
    EXPECT_EQ(kFpBadFormat, Run(Header(1) + "FPCK" + U32(0)));
}

TEST_F(Unpack, FolderRecordMustEndInFend) {
    std::string record = FolderRecord("sub", 0x10, kTimeA, kTimeA);
    record.replace(record.size() - 8, 4, "FENX");
    EXPECT_EQ(kFpBadFormat, Run(Header(1) + record));
    // The folder itself was made before the tag was read.
    EXPECT_TRUE(AttributesAt(dest_ + "\\sub") & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(Unpack, EmptyFileHasNoChunksAndGetsTimesAndAttributes) {
    EXPECT_EQ(kFpOk, Run(Header(2) + FileHead("empty.txt", 0x21, kTimeA, kTimeB, 0) + End() +
                         FileHead("hidden.txt", 0x22, kTimeA, kTimeA, 0) + End()));
    EXPECT_EQ("", Read("empty.txt"));
    ExpectStamped("empty.txt", 0x21, kTimeB);
    ExpectStamped("hidden.txt", 0x22, kTimeA);
}

TEST_F(Unpack, StoredChunkIsCopiedEvenWhenItLooksCompressed) {
    const std::string stream = Deflate(Compressible(5000));
    EXPECT_EQ(kFpOk, Run(Header(1) + FileHead("z.bin", 0x20, kTimeA, kTimeA, stream.size()) +
                         StoredChunk(stream) + End()));
    EXPECT_EQ(stream, Read("z.bin"));
}

TEST_F(Unpack, FileOverSeveralChunksIsTheirConcatenation) {
    const std::string a = Compressible(70000, 3), b = Random(1000, 4), c = Compressible(100, 5),
                      d = Compressible(20000, 6);
    std::string archive = Header(1) + FileHead("multi.bin", 0x20, kTimeA, kTimeB,
                                               a.size() + b.size() + c.size() + d.size());
    archive += CompressedChunk(a) + StoredChunk(b) + CompressedChunk(c) + CompressedChunk(d);
    EXPECT_EQ(kFpOk, Run(archive + End()));
    EXPECT_EQ(a + b + c + d, Read("multi.bin"));
    ExpectStamped("multi.bin", 0x20, kTimeB);
}

TEST_F(Unpack, TwentyMebibyteFileInChunksOfSixMebibytes) {
    const std::string content = Compressible(10 << 20, 7) + Random(10 << 20, 8);
    std::string archive;
    FolderPackWriter writer;
    writer.UseMemory(&archive);
    FILETIME t = {static_cast<DWORD>(kTimeB), static_cast<DWORD>(kTimeB >> 32)};
    ASSERT_TRUE(writer.AddFile("big\\twenty.bin", 0x20, t, t, content.data(), content.size()));
    ASSERT_TRUE(writer.Finish());
    // 4 chunks: two compressed, one of each half's boundary, one stored.
    size_t chunks = 0;
    for (size_t at = archive.find("FPCK"); at != std::string::npos;
         at = archive.find("FPCK", at + 4)) {
        uint32_t length;
        memcpy(&length, archive.data() + at + 4, 4);
        ++chunks;
        at += 4 + length;
    }
    EXPECT_EQ(4u, chunks);
    EXPECT_LT(archive.size(), content.size());
    EXPECT_EQ(kFpOk, Run(archive));
    EXPECT_TRUE(Read("big\\twenty.bin") == content);
    ExpectStamped("big\\twenty.bin", 0x20, kTimeB);
}

// ---- destination, overwrite, progress ----

TEST_F(Unpack, DestinationWithOrWithoutTrailingBackslash) {
    const std::string archive =
        Header(2) + FolderRecord("f", 0x10, kTimeA, kTimeA) + FileRecord("f\\a.txt", "x");
    EXPECT_EQ(kFpOk, RunInto(dir_ + "\\one", archive));
    EXPECT_EQ(kFpOk, RunInto(dir_ + "\\two\\", archive));
    EXPECT_EQ(Tree(dir_ + "\\one"), Tree(dir_ + "\\two"));
    EXPECT_EQ((std::vector<std::string>{"f\\", "f\\a.txt"}), Tree(dir_ + "\\one"));
}

TEST_F(Unpack, DestinationEndingInTrailByte5CGetsItsBackslash) {
    // 能 is 94 5C: its last byte is no separator, so one is appended.
    EXPECT_EQ(kFpOk, RunInto(dir_ + "\\能", Header(1) + FileRecord("a.txt", "x")));
    EXPECT_EQ((std::vector<std::string>{"a.fpk", "能\\", "能\\a.txt"}), Tree(dir_));
}

TEST_F(Unpack, ReadOnlyTargetIsReplacedAndGetsTheRecordsAttributes) {
    ASSERT_TRUE(MakeDirAt(dest_));
    ASSERT_TRUE(WriteFileAt(dest_ + "\\ro.txt", "old"));
    ASSERT_TRUE(WriteFileAt(dest_ + "\\ro2.txt", "old"));
    ASSERT_TRUE(SetFileAttributesA((dest_ + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA((dest_ + "\\ro2.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    // As Windows needs it, and Wine run by the superuser does not: each new
    // file's data on the disk before it takes the old one's place, which is
    // no longer read-only by then.
    struct Seen {
        std::vector<std::string> flushed, problems;
    } seen;
    SetDiskCallHook(
        [](void* context, DiskCall call, const char* path, const char* from, DWORD) {
            Seen& s = *static_cast<Seen*>(context);
            if (call == DiskCall::kFlush)
                s.flushed.push_back(path);
            if (call == DiskCall::kMove) {
                if (std::find(s.flushed.begin(), s.flushed.end(), from) == s.flushed.end())
                    s.problems.push_back(std::string("not flushed: ") + from);
                const DWORD attributes = GetFileAttributesA(path);
                if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
                    s.problems.push_back(std::string("read-only: ") + path);
            }
            return true;
        },
        &seen);
    EXPECT_EQ(kFpOk, Run(Header(2) + FileRecord("ro.txt", "new", 0x21, kTimeA) +
                         FileRecord("ro2.txt", "new2", 0x20, kTimeB)));
    SetDiskCallHook(nullptr, nullptr);
    EXPECT_EQ(std::vector<std::string>{}, seen.problems);
    EXPECT_EQ("new", Read("ro.txt"));
    ExpectStamped("ro.txt", 0x21, kTimeA);
    EXPECT_EQ("new2", Read("ro2.txt"));
    ExpectStamped("ro2.txt", 0x20, kTimeB);
    EXPECT_EQ((std::vector<std::string>{dest_ + "\\ro.txt", dest_ + "\\ro2.txt"}),
              g_overwriteCalls);
}

TEST_F(Unpack, RefusedOverwriteLeavesTheFileAndStops) {
    ASSERT_TRUE(MakeDirAt(dest_ + "\\sub"));
    ASSERT_TRUE(WriteFileAt(dest_ + "\\sub\\keep.txt", "old"));
    ASSERT_TRUE(SetFileAttributesA((dest_ + "\\sub\\keep.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    const uint64_t before = LastWriteAt(dest_ + "\\sub\\keep.txt");
    const std::string archive = Header(3) + FileRecord("first.txt", "1") +
                                FileRecord("sub\\keep.txt", "new", 0x21, kTimeA) +
                                FileRecord("later.txt", "3");
    for (OverwriteCallback callback : {static_cast<OverwriteCallback>(nullptr), AnswerNo}) {
        g_overwriteCalls.clear();
        EXPECT_EQ(kFpOverwriteRefused, Run(archive, callback));
        EXPECT_EQ("old", Read("sub\\keep.txt"));
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN),
                  AttributesAt(dest_ + "\\sub\\keep.txt") & kNoReadOnlyHidden);
        EXPECT_EQ(before, LastWriteAt(dest_ + "\\sub\\keep.txt"));
        EXPECT_FALSE(ExistsAt(dest_ + "\\later.txt"));
        ASSERT_TRUE(DeleteFileA((dest_ + "\\first.txt").c_str()));
    }
    EXPECT_EQ(std::vector<std::string>{dest_ + "\\sub\\keep.txt"}, g_overwriteCalls);
}

TEST_F(Unpack, SameFileTwiceTheSecondWins) {
    EXPECT_EQ(kFpOk, Run(Header(2) + FileRecord("a.txt", "first", 0x21, kTimeA) +
                         FileRecord("a.txt", "second", 0x20, kTimeB)));
    EXPECT_EQ("second", Read("a.txt"));
    ExpectStamped("a.txt", 0x20, kTimeB);
    EXPECT_EQ(std::vector<std::string>{dest_ + "\\a.txt"}, g_overwriteCalls);
}

TEST_F(Unpack, NameLengthWithoutNulStillEndsTheName) {
    EXPECT_EQ(kFpOk, Run(Header(1) + FileHead("nonul.txt", 0x20, kTimeA, kTimeA, 2, false) +
                         StoredChunk("ok") + End()));
    EXPECT_EQ(std::vector<std::string>{"nonul.txt"}, Tree(dest_));
}

TEST_F(Unpack, SubfoldersOfFileNamesAreMadeWithoutFolderRecords) {
    EXPECT_EQ(kFpOk, Run(Header(1) + FileRecord("a\\b\\c.txt", "c", 0x20, kTimeA)));
    EXPECT_EQ((std::vector<std::string>{"a\\", "a\\b\\", "a\\b\\c.txt"}), Tree(dest_));
}

TEST_F(Unpack, FolderRecordsGiveAttributesAndTimes) {
    ASSERT_TRUE(MakeDirAt(dest_ + "\\old"));
    EXPECT_EQ(kFpOk, Run(Header(3) + FolderRecord("empty", 0x12, kTimeA, kTimeB) +
                         FolderRecord("deep\\er", 0x10, kTimeB, kTimeA) +
                         FolderRecord("old", 0x10, kTimeA, kTimeA)));
    EXPECT_EQ((std::vector<std::string>{"deep\\", "deep\\er\\", "empty\\", "old\\"}), Tree(dest_));
    EXPECT_TRUE(AttributesAt(dest_ + "\\empty") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(kTimeB, LastWriteAt(dest_ + "\\empty"));
    EXPECT_EQ(kTimeA, LastWriteAt(dest_ + "\\deep\\er"));
    EXPECT_EQ(kTimeA, LastWriteAt(dest_ + "\\old"));
}

TEST_F(Unpack, FailureInTheLastRecordIsReported) {
    EXPECT_EQ(kFpTruncated, Run(Header(2) + FileRecord("a.txt", "a") +
                                FileHead("b.txt", 0x20, kTimeA, kTimeA, 3)));
    EXPECT_EQ("a", Read("a.txt"));
    EXPECT_EQ(std::vector<std::string>{"a.txt"}, Tree(dest_));
}

TEST_F(Unpack, ProgressReportsChunksFilesAndRecords) {
    const std::string a = Compressible(5000), b = Random(700);
    EXPECT_EQ(kFpOk, Run(Header(3) + FileHead("p.bin", 0x20, kTimeA, kTimeA, a.size() + b.size()) +
                             CompressedChunk(a) + StoredChunk(b) + End() +
                             FolderRecord("f", 0x10, kTimeA, kTimeA) + FileRecord("e", ""),
                         AnswerYes, RecordProgress));
    const uint64_t total = a.size() + b.size();
    const std::vector<ProgressCall> expected = {{0, 0, 0, total},     {0, 0, a.size(), total},
                                                {0, 0, total, total}, {0, 0, total, total},
                                                {1, 3, 0, 0},         {2, 3, 0, 0},
                                                {0, 0, 0, 0},         {0, 0, 0, 0},
                                                {3, 3, 0, 0}};
    EXPECT_TRUE(expected == g_progress) << g_progress.size();
}

TEST_F(Unpack, DoubleByteNamesWithTrailByte5C) {
    // 能 94 5C, 表 95 5C, ソ 83 5C.
    EXPECT_EQ(kFpOk,
              Run(Header(3) + FolderRecord("能", 0x10, kTimeA, kTimeA) +
                  FileRecord("能\\表\\ソ.txt", "so", 0x20, kTimeB) + FileRecord("表ソ能", "x")));
    EXPECT_EQ((std::vector<std::string>{"能\\", "能\\表\\", "能\\表\\ソ.txt", "表ソ能"}),
              Tree(dest_));
    EXPECT_EQ("so", Read("能\\表\\ソ.txt"));
    ExpectStamped("能\\表\\ソ.txt", 0x20, kTimeB);
}

TEST_F(Unpack, FilesAndFoldersBeyond260Bytes) {
    // A destination of about 120 bytes, names that take paths to 300 and about 600 bytes.
    std::string dest = dir_ + "\\";
    while (dest.size() < 120)
        dest += "dddddddddd";
    dest_ = dest;
    std::string component;
    for (int i = 0; i < 30; ++i)
        component += "能";
    const std::string folder = component + "\\" + std::string(60, 'f');
    const std::string file300 =
        folder + "\\" + std::string(300 - dest.size() - folder.size() - 2, 'a');
    std::string deepFile = folder;
    while (deepFile.size() < 480)
        deepFile += "\\" + component;
    deepFile += "\\end.txt";
    const std::string content = Compressible(100000);
    ASSERT_EQ(300u, dest.size() + 1 + file300.size());
    EXPECT_EQ(kFpOk, Run(Header(3) + FolderRecord(folder, 0x12, kTimeA, kTimeA) +
                         FileRecord(file300, content, 0x21, kTimeB) +
                         FileRecord(deepFile, "deep", 0x20, kTimeA)));
    EXPECT_EQ(content, Read(file300));
    ExpectStamped(file300, 0x21, kTimeB);
    EXPECT_EQ("deep", Read(deepFile));
    ExpectStamped(deepFile, 0x20, kTimeA);
    EXPECT_TRUE(AttributesAt(dest_ + "\\" + folder) & FILE_ATTRIBUTE_HIDDEN);
    // Replacing deep read-only files goes through the long paths too.
    EXPECT_EQ(kFpOk, Run(Header(1) + FileRecord(file300, "again", 0x20, kTimeA)));
    EXPECT_EQ("again", Read(file300));
    ExpectStamped(file300, 0x20, kTimeA);
}

TEST_F(Unpack, RecordHandlersReadExactlyTheirRecord) {
    // Called one by one on a handle just after each tag, the record handlers
    // leave the handle at the next record.
    const std::string a = Compressible(9000), b = Random(100);
    const std::string bytes = FileHead("r\\one.txt", 0x21, kTimeA, kTimeB, a.size() + b.size()) +
                              CompressedChunk(a) + StoredChunk(b) + End() +
                              FolderRecord("r\\f", 0x12, kTimeA, kTimeA) + FileRecord("two", "2");
    ASSERT_TRUE(ts::WriteBytes(archive_, bytes));
    UniqueHandle h(CreateFileA(archive_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h.IsValid());
    char tag[4];
    DWORD got;
    ASSERT_TRUE(ReadFile(h.Get(), tag, 4, &got, nullptr));
    EXPECT_EQ(kFpOk, ExtractFileRecord(h.Get(), dest_.c_str(), nullptr, nullptr));
    ASSERT_TRUE(ReadFile(h.Get(), tag, 4, &got, nullptr));
    EXPECT_EQ(0, memcmp(tag, "FLDR", 4));
    EXPECT_EQ(kFpOk, ExtractFolderRecord(h.Get(), dest_.c_str()));
    ASSERT_TRUE(ReadFile(h.Get(), tag, 4, &got, nullptr));
    EXPECT_EQ(0, memcmp(tag, "FILE", 4));
    EXPECT_EQ(kFpOk, ExtractFileRecord(h.Get(), dest_.c_str(), nullptr, nullptr));
    EXPECT_EQ(kFpTruncated, ExtractFileRecord(h.Get(), dest_.c_str(), nullptr, nullptr));
    EXPECT_EQ(a + b, Read("r\\one.txt"));
    ExpectStamped("r\\one.txt", 0x21, kTimeB);
    EXPECT_EQ("2", Read("two"));
    EXPECT_TRUE(AttributesAt(dest_ + "\\r\\f") & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(Unpack, ChunksOfChangingSizesInManyRecords) {
    // Chunks larger and smaller than the ones before, across records and
    // folders that come and go: each file gets exactly its own content.
    std::string archive;
    FolderPackWriter writer;
    writer.UseMemory(&archive);
    FILETIME t = {static_cast<DWORD>(kTimeA), static_cast<DWORD>(kTimeA >> 32)};
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 60; ++i) {
        const size_t size = static_cast<size_t>((i * 7919) % 70000);
        const std::string content = i % 3 == 0 ? Random(size, i) : Compressible(size, i);
        const std::string name =
            "g" + std::to_string(i % 4 == 3 ? i : i / 8) + "\\f" + std::to_string(i);
        ASSERT_TRUE(writer.SetChunkSize(1 + static_cast<uint32_t>((i * 104729) % 30000)));
        ASSERT_TRUE(writer.AddFile(name.c_str(), 0x20, t, t, content.data(), content.size()));
        files.emplace_back(name, content);
    }
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(kFpOk, Run(archive));
    for (const auto& f : files)
        EXPECT_TRUE(Read(f.first) == f.second) << f.first;
}

TEST_F(Unpack, NoHandleIsCreateFailed) {
    EXPECT_EQ(kFpCreateFailed, ExtractFolderPackHandle(dest_.c_str(), nullptr, AnswerYes, nullptr));
    EXPECT_EQ(kFpCreateFailed,
              ExtractFolderPackHandle(dest_.c_str(), INVALID_HANDLE_VALUE, AnswerYes, nullptr));
}

// ---- every result code and what it leaves ----

// A record that fails among its chunks or at its end leaves no new file and
// an existing target exactly as it was; the record before it stays, the one
// after it is not read.
TEST_F(Unpack, FailingRecordLeavesNoNewFileAndTheOldOneUnchanged) {
    const std::string a = Compressible(3000, 1), b = Compressible(4000, 2), r = Random(500, 3);
    const std::string stream = Deflate(b);
    std::string damaged = stream;
    damaged.back() ^= 0x55;
    const uint32_t streamChunk = static_cast<uint32_t>(4 + stream.size());
    const std::string whole = CompressedChunk(a) + StoredChunk(r) + End();
    struct Case {
        const char* what;
        int code;
        uint64_t size;
        std::string body; // chunks and end after the record's head
    } cases[] = {
        {"unknown tag among chunks", kFpBadFormat, 6000,
         CompressedChunk(a) + "FPCX" + U32(8) + U32(4) + "abcd" + End()},
        {"damaged Adler-32", kFpWriteFailed, 7000,
         CompressedChunk(a) + Chunk(static_cast<uint32_t>(4 + damaged.size()), 4000, damaged) +
             End()},
        {"stream shorter than its length", kFpWriteFailed, 7001,
         CompressedChunk(a) + Chunk(streamChunk, 4001, stream) + End()},
        {"stream longer than its length", kFpWriteFailed, 6999,
         CompressedChunk(a) + Chunk(streamChunk, 3999, stream) + End()},
        {"chunks add up to less", kFpSizeMismatch, 5000, whole},
        {"chunks add up to more", kFpSizeMismatch, 10, StoredChunk(r) + End()},
        {"no chunks for a size", kFpSizeMismatch, 3, End()},
        // Chunk heads the buffer cannot take are refused before their data.
        {"chunk length below 4", kFpBadFormat, 10, "FPCK" + U32(3) + U32(0)},
        {"data longer than the buffer", kFpBadFormat, 10,
         "FPCK" + U32(4 + kFpMaxChunkData + 1) + U32(10)},
        {"chunk length all ones", kFpBadFormat, 10, "FPCK" + U32(0xFFFFFFFF) + U32(10)},
        {"original length 2^31", kFpBadFormat, 10, "FPCK" + U32(14) + U32(0x80000000u)},
        {"cut in a chunk tag", kFpTruncated, 3500, CompressedChunk(a) + "FP"},
        {"cut in a chunk head", kFpTruncated, 3500, CompressedChunk(a) + "FPCK" + U32(504)},
        {"cut in chunk data", kFpTruncated, 3500,
         CompressedChunk(a) + StoredChunk(r).substr(0, 99)},
        {"cut in the end tag", kFpTruncated, 3500, whole.substr(0, whole.size() - 5)},
        {"cut in the end trailer", kFpTruncated, 3500, whole.substr(0, whole.size() - 1)},
    };
    for (const Case& c : cases) {
        for (const bool existing : {false, true}) {
            ts::RemoveTree(dest_);
            ASSERT_TRUE(MakeDirAt(dest_));
            const std::string target = dest_ + "\\t.txt";
            DWORD before = INVALID_FILE_ATTRIBUTES;
            uint64_t beforeTime = 0;
            if (existing) {
                ASSERT_TRUE(WriteFileAt(target, "old"));
                ASSERT_TRUE(SetFileAttributesA(target.c_str(),
                                               FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
                before = AttributesAt(target);
                beforeTime = LastWriteAt(target);
            }
            // A cut archive ends in the record; any other goes on after it.
            const bool cut = c.code == kFpTruncated;
            const std::string bytes = Header(cut ? 2 : 3) + FileRecord("first.txt", "1") +
                                      FileHead("t.txt", 0x20, kTimeA, kTimeA, c.size) + c.body +
                                      (cut ? "" : FileRecord("after.txt", "3"));
            EXPECT_EQ(c.code, Run(bytes)) << c.what << (existing ? ", existing" : ", new");
            if (existing) {
                EXPECT_EQ((std::vector<std::string>{"first.txt", "t.txt"}), Tree(dest_)) << c.what;
                EXPECT_EQ("old", Read("t.txt")) << c.what;
                EXPECT_EQ(before, AttributesAt(target)) << c.what;
                EXPECT_EQ(beforeTime, LastWriteAt(target)) << c.what;
            } else {
                EXPECT_EQ(std::vector<std::string>{"first.txt"}, Tree(dest_)) << c.what;
            }
        }
    }
}

// A target that cannot be made or replaced (-1): nothing new is left, and an
// existing target keeps its content and attributes.
TEST_F(Unpack, CreateFailedLeavesTheTargetUnchanged) {
    ASSERT_TRUE(MakeDirAt(dest_ + "\\folder"));
    ASSERT_TRUE(WriteFileAt(dest_ + "\\blocker", "b"));
    ASSERT_TRUE(WriteFileAt(dest_ + "\\held.txt", "held"));
    ASSERT_TRUE(SetFileAttributesA((dest_ + "\\held.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::vector<std::string> tree = Tree(dest_);
    const DWORD heldAttributes = AttributesAt(dest_ + "\\held.txt");
    struct Case {
        const char* what;
        const char* name;
        DWORD share; // sharing of a reader that holds the target meanwhile
    } cases[] = {
        {"a file where a folder is needed", "blocker\\x.txt", 0},
        {"a folder where the file goes", "folder", 0},
        {"held open without sharing", "held.txt", 0},
        {"held open by a reader that lets it be deleted", "held.txt",
         FILE_SHARE_READ | FILE_SHARE_DELETE},
    };
    for (const Case& c : cases) {
        UniqueHandle held(CreateFileA((dest_ + "\\held.txt").c_str(), GENERIC_READ, c.share,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.IsValid());
        const int result =
            Run(Header(2) + FileRecord(c.name, "new", 0x20, kTimeA) + FileRecord("later.txt", "l"));
        held.Close();
        // A platform that can replace a file held open with delete sharing
        // may do so; the old content is never lost either way.
        if (c.share != 0 && result == kFpOk) {
            EXPECT_EQ("new", Read("held.txt"));
            continue;
        }
        EXPECT_EQ(kFpCreateFailed, result) << c.what;
        EXPECT_EQ(tree, Tree(dest_)) << c.what;
        EXPECT_EQ("held", Read("held.txt")) << c.what;
        EXPECT_EQ(heldAttributes, AttributesAt(dest_ + "\\held.txt")) << c.what;
    }
}

TEST_F(Unpack, LeftoverNewFileOfAKilledUnpackIsWrittenOverAndMoved) {
    // A killed unpack left its new file, which somebody changed since; the
    // next unpack that replaces a file there makes it the new file.
    const std::string leftover = dest_ + "\\sub\\" + kFpNewFileName;
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const struct {
        DWORD leftover, record;
    } cases[] = {{FILE_ATTRIBUTE_READONLY, 0x21}, {FILE_ATTRIBUTE_HIDDEN, 0x20}, {0x07, 0x20}};
    for (const auto& c : cases) {
        ts::RemoveTree(dest_);
        ASSERT_TRUE(MakeDirAt(dest_ + "\\sub"));
        ASSERT_TRUE(WriteFileAt(dest_ + "\\sub\\a.txt", "old"));
        ASSERT_TRUE(WriteFileAt(leftover, "half of the new cont"));
        ASSERT_TRUE(SetFileAttributesA(leftover.c_str(), c.leftover));
        const std::string content = Compressible(70000, 4);
        EXPECT_EQ(kFpOk, Run(Header(1) + FileRecord("sub\\a.txt", content, c.record, kTimeB)));
        EXPECT_EQ(content, Read("sub\\a.txt"));
        EXPECT_EQ(c.record & kept, AttributesAt(dest_ + "\\sub\\a.txt") & kept) << c.leftover;
        EXPECT_EQ((std::vector<std::string>{"sub\\", "sub\\a.txt"}), Tree(dest_));
    }
}

TEST_F(Unpack, FilesGetTheRecordsAttributesAndTimes) {
    // New and replaced files alike; 0x20 is what a new file has already. The
    // platform keeps the read-only, hidden and system bits of a file (Wine
    // reports every file as to be archived).
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD attributes[] = {0x20, 0x21, 0x22, 0x23, 0x26, 0x80, 0x01, 0x04, 0x00};
    for (const bool replace : {false, true}) {
        std::string archive = Header(static_cast<int32_t>(sizeof attributes / sizeof *attributes));
        for (const DWORD a : attributes)
            archive += FileRecord("f" + std::to_string(a), Random(100, a), a, kTimeB + a);
        if (replace) {
            for (const DWORD a : attributes) {
                const std::string path = dest_ + "\\f" + std::to_string(a);
                ASSERT_TRUE(SetFileAttributesA(path.c_str(), kept ^ (a & kept)));
            }
        }
        ASSERT_EQ(kFpOk, Run(archive));
        for (const DWORD a : attributes) {
            const std::string name = "f" + std::to_string(a);
            EXPECT_EQ(a & kept, AttributesAt(dest_ + "\\" + name) & kept) << name << replace;
            EXPECT_EQ(kTimeB + a, LastWriteAt(dest_ + "\\" + name)) << name << replace;
            EXPECT_EQ(Random(100, a), Read(name));
        }
    }
}

// The disk fills up while an existing file is being replaced: the old file
// stays as it was and the partial new file goes; a new target leaves nothing.
TEST_F(Unpack, FullDiskKeepsTheOldFile) {
    std::string reason;
    if (!ts::SmallDriveReady(reason))
        GTEST_SKIP() << reason;
    const std::string dest = std::string(ts::kSmallDriveRoot) + "unpack";
    ts::RemoveTree(dest);
    ASSERT_TRUE(MakeDirAt(dest));
    ASSERT_TRUE(WriteFileAt(dest + "\\PatchHub.ini", "[PatchHub]\r\nServer=old\r\n"));
    ASSERT_TRUE(SetFileAttributesA((dest + "\\PatchHub.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    const DWORD before = AttributesAt(dest + "\\PatchHub.ini");
    const uint64_t beforeTime = LastWriteAt(dest + "\\PatchHub.ini");
    ts::SmallDriveFiller filler;
    ASSERT_TRUE(filler.LeaveFree(256 * 1024));
    const uint64_t free = ts::FreeBytes(ts::kSmallDriveRoot);
    // More content than the free space, in chunks and in one inflated piece
    // larger than the space.
    const std::string big = Random(600 * 1024, 5);
    const std::string replace = FileRecord("PatchHub.ini", big);
    const struct {
        std::string record;
        int code;
    } cases[] = {
        {replace, kFpWriteFailed},
        {FileRecord("new.bin", big), kFpWriteFailed},
        {FileRecord("PatchHub.ini", std::string(2 << 20, 'z')), kFpWriteFailed},
        // A cut archive comes first, though the disk filled up before the cut.
        {replace.substr(0, replace.size() - 20), kFpTruncated},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.code, RunInto(dest, Header(1) + c.record));
        EXPECT_EQ(std::vector<std::string>{"PatchHub.ini"}, Tree(dest));
        std::string old;
        EXPECT_TRUE(ReadFileAt(dest + "\\PatchHub.ini", old));
        EXPECT_EQ("[PatchHub]\r\nServer=old\r\n", old);
        EXPECT_EQ(before, AttributesAt(dest + "\\PatchHub.ini"));
        EXPECT_EQ(beforeTime, LastWriteAt(dest + "\\PatchHub.ini"));
        EXPECT_EQ(free, ts::FreeBytes(ts::kSmallDriveRoot));
    }
    // With room again the same archive replaces it.
    filler.Remove();
    EXPECT_EQ(kFpOk, RunInto(dest, Header(1) + FileRecord("PatchHub.ini", big, 0x21, kTimeA)));
    std::string now;
    EXPECT_TRUE(ReadFileAt(dest + "\\PatchHub.ini", now));
    EXPECT_TRUE(now == big);
    ts::RemoveTree(dest);
}

TEST_F(Unpack, ArchiveIsReadWhileAnotherReaderHoldsIt) {
    ASSERT_TRUE(ts::WriteBytes(archive_, Header(1) + FileRecord("a.txt", "x")));
    {
        // Another reader: the archive is opened with read sharing.
        UniqueHandle reader(CreateFileA(archive_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader.IsValid());
        EXPECT_EQ(kFpOk, ExtractFolderPack(dest_.c_str(), archive_.c_str(), AnswerYes, nullptr));
        EXPECT_EQ("x", Read("a.txt"));
    }
    {
        // A writer: no write sharing, the archive is not opened.
        UniqueHandle writer(CreateFileA(archive_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer.IsValid());
        EXPECT_EQ(kFpOpenFailed,
                  ExtractFolderPack(dest_.c_str(), archive_.c_str(), AnswerYes, nullptr));
    }
}

// A chunk of 256 MiB from a few hundred KiB of data is written in pieces: the
// unpacker's working set grows by less than the chunk buffer and a piece.
TEST_F(Unpack, PeakWorkingSetOfA256MiBChunk) {
    const uint32_t size = 256u << 20;
    std::string stream(300000, '\0');
    {
        const std::string zeros(size, '\0');
        uLongf length = static_cast<uLongf>(stream.size());
        ASSERT_EQ(Z_OK, compress2(reinterpret_cast<Bytef*>(&stream[0]), &length,
                                  reinterpret_cast<const Bytef*>(zeros.data()), size, 9));
        stream.resize(length);
    }
    ASSERT_TRUE(ts::WriteBytes(
        archive_, Header(1) + FileHead("big.bin", 0x20, kTimeA, kTimeA, size) +
                      Chunk(static_cast<uint32_t>(4 + stream.size()), size, stream) + End()));
    std::string output;
    ASSERT_EQ(0, pt::Run("\"" + ts::BuildFile("tools/fpack/fpack_bench.exe") +
                             "\" --child unpack \"" + archive_ + "\" \"" + dest_ + "\"",
                         output))
        << output;
    double seconds = 0, growthMiB = 0, peakMiB = 0;
    ASSERT_EQ(3, sscanf(output.c_str(), "%lf %lf %lf", &seconds, &growthMiB, &peakMiB)) << output;
    printf("256 MiB chunk: peak working set %.1f MiB, %.1f MiB over the start\n", peakMiB,
           growthMiB);
    EXPECT_LT(growthMiB, 6.0 + 1.0);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((dest_ + "\\big.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(size, data.nFileSizeLow);
}

TEST_F(Unpack, BytesAfterTheStreamWithinTheChunkAreIgnored) {
    const std::string content = Compressible(4000, 2);
    const std::string padded = Deflate(content) + "trailing bytes";
    EXPECT_EQ(kFpOk, Run(Header(1) + FileHead("p.txt", 0x20, kTimeA, kTimeA, 4000) +
                         Chunk(static_cast<uint32_t>(4 + padded.size()), 4000, padded) + End()));
    EXPECT_EQ(content, Read("p.txt"));
}

TEST_F(Unpack, OpenFailedWhenTheArchiveCannotBeOpened) {
    EXPECT_EQ(kFpOpenFailed, ExtractFolderPack(dest_.c_str(), (dir_ + "\\no\\such.fpk").c_str(),
                                               AnswerYes, nullptr));
    // A folder is no archive.
    EXPECT_EQ(kFpOpenFailed, ExtractFolderPack(dest_.c_str(), dir_.c_str(), AnswerYes, nullptr));
    EXPECT_EQ(kFpOpenFailed, ExtractFolderPack(dest_.c_str(), nullptr, AnswerYes, nullptr));
    EXPECT_TRUE(Tree(dir_).empty());
}

TEST_F(Unpack, MissingArchiveIsCreatedEmptyAndTruncated) {
    const std::string missing = dir_ + "\\missing.fpk";
    EXPECT_EQ(kFpTruncated, ExtractFolderPack(dest_.c_str(), missing.c_str(), AnswerYes, nullptr));
    EXPECT_EQ(std::vector<std::string>{"missing.fpk"}, Tree(dir_));
    EXPECT_EQ("", ts::ReadBytes(missing));
}

TEST_F(Unpack, TruncatedRecordFieldsLeaveTheTargetAlone) {
    ASSERT_TRUE(MakeDirAt(dest_));
    ASSERT_TRUE(WriteFileAt(dest_ + "\\t.txt", "old"));
    const std::string record = FileHead("t.txt", 0x20, kTimeA, kTimeA, 3);
    const size_t fields = 4 + 8 + 4 + 6 + 2 + 4 + 8 + 8 + 8;
    ASSERT_EQ(fields, record.size());
    for (size_t cut = 4; cut < fields; ++cut) {
        EXPECT_EQ(kFpTruncated, Run(Header(1) + record.substr(0, cut))) << cut;
        EXPECT_EQ("old", Read("t.txt"));
    }
    EXPECT_TRUE(g_overwriteCalls.empty());
    EXPECT_EQ(kFpTruncated,
              Run(Header(1) + FileHead("new.txt", 0x20, kTimeA, kTimeA, 3).substr(0, fields - 1)));
    EXPECT_FALSE(ExistsAt(dest_ + "\\new.txt"));
    // Folder record fields, too: nothing is made.
    const std::string folder = FolderRecord("nf", 0x10, kTimeA, kTimeA);
    for (size_t cut = 4; cut < folder.size() - 8; ++cut)
        EXPECT_EQ(kFpTruncated, Run(Header(1) + folder.substr(0, cut))) << cut;
    EXPECT_FALSE(ExistsAt(dest_ + "\\nf"));
}

TEST_F(Unpack, LargestChunkThatFitsTheBufferIsTaken) {
    const std::string big = Random(kFpMaxChunkData, 9);
    EXPECT_EQ(kFpOk, Run(Header(1) + FileHead("max.bin", 0x20, kTimeA, kTimeA, big.size()) +
                         StoredChunk(big) + End()));
    EXPECT_TRUE(Read("max.bin") == big);
    // A zero-length chunk with no data is stored and empty.
    EXPECT_EQ(kFpOk, Run(Header(1) + FileHead("z.bin", 0x20, kTimeA, kTimeA, 0) + Chunk(4, 0, "") +
                         End()));
}

// ---- names ----

// Every rule of the names: the public check and the unpacker refuse the same
// names, with -9 before anything of the record is made, at a short and at a
// deep destination (byte-string and wide calls) alike.
TEST_F(Unpack, RefusedNamesMakeNothingAtEveryDepth) {
    const std::string lead(1, '\x94'); // the lead byte of 能 (94 5C)
    const std::string refused[] = {
        // outside the destination
        "", "..\\x", "..", "a\\..\\..\\x", "a\\..", "\\x", "\\\\srv\\s\\x", "C:x", "C:\\x", "a:b",
        "a\\b:stream", "能\\..\\x",
        // a slash anywhere, also one that a lead byte would hide
        "a/../../x", "../x", "/x", "q/c", "c:/x", lead + "/x",
        // a lead byte without its trail byte, also at the very end
        "a" + lead, lead, lead + " x", "x\\" + lead + ".y", "a" + lead + "\x7F",
        // control characters and the platform's reserved characters
        "a\x01", "tab\tx", "a\x1F", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b",
        // empty components, "." and "..", trailing dots and blanks
        "a\\\\b", "a\\", ".\\c", ".", "a.", "b ", "c. .", "d\\e.\\f", "...\\x", ".. \\x",
        "a\\. .\\x", "能 ",
        // devices, in any letter case, with an extension, with blanks
        "NUL", "nul.txt", "AUX", "CON", "con .txt", "PRN.x.y", "COM1", "com0", "LPT9", "lpt1.log",
        "sub\\COM3", "CONIN$", "conout$.txt", "CoM5 .a",
        // the unpacker's own new file
        kFpNewFileName, "a\\~folderpack.TMP", "~FOLDERPACK.TMP\\x",
        // a component longer than any file system stores
        std::string(256, 'n'), "a\\" + std::string(256, 'n') + "\\b"};
    std::string deep = dir_ + "\\deep";
    while (deep.size() < 300)
        deep += "\\" + std::string(40, 'd');
    for (const std::string& name : refused) {
        EXPECT_FALSE(IsSafeRecordName(name.c_str())) << name;
        for (const std::string& dest : {dest_, deep}) {
            for (const bool file : {true, false}) {
                const std::string record =
                    file ? FileRecord(name, "escaped") : FolderRecord(name, 0x10, kTimeA, kTimeA);
                EXPECT_EQ(kFpBadFormat, RunInto(dest, Header(1) + record)) << name;
                EXPECT_EQ(std::vector<std::string>{"a.fpk"}, Tree(dir_)) << name;
            }
        }
    }
    // The record before the bad one stays; nothing of the bad one is made.
    EXPECT_EQ(kFpBadFormat, Run(Header(2) + FileRecord("ok.txt", "ok") +
                                FileRecord("sub\\..\\..\\x", "escaped")));
    EXPECT_EQ(std::vector<std::string>{"ok.txt"}, Tree(dest_));
    // Empty name without a NUL either.
    EXPECT_EQ(kFpBadFormat, Run(Header(1) + FileHead("", 0x20, kTimeA, kTimeA, 0, false) + End()));
}

TEST_F(Unpack, AcceptedNamesGiveTheSameFilesAtEveryDepth) {
    // ポ is 83 7C: its trail byte is no '|'; 表 and 能 end in 5C, no separator.
    const std::string accepted[] = {"a..b",
                                    "..a",
                                    "能..a",
                                    "d\\.e\\f",
                                    "ポ.txt",
                                    "ポ\\ポ",
                                    "表\\能",
                                    "console.txt",
                                    "COM10.txt",
                                    "LPT",
                                    "CONIN",
                                    "NULL",
                                    "auxiliary",
                                    "x.con",
                                    "a b",
                                    " lead",
                                    "~FolderPack.tmp.txt",
                                    "x~FolderPack.tmp",
                                    "a.b.c"};
    std::vector<std::string> expected = {"d\\", "d\\.e\\", "ポ\\", "表\\"};
    std::string archive = Header(static_cast<int32_t>(sizeof accepted / sizeof *accepted));
    for (const std::string& name : accepted) {
        EXPECT_TRUE(IsSafeRecordName(name.c_str())) << name;
        archive += FileRecord(name, name);
        expected.push_back(name);
    }
    std::sort(expected.begin(), expected.end());
    std::string deep = dir_ + "\\deep";
    while (deep.size() < 300)
        deep += "\\" + std::string(40, 'd');
    EXPECT_EQ(kFpOk, RunInto(dest_, archive));
    EXPECT_EQ(kFpOk, RunInto(deep, archive));
    EXPECT_EQ(expected, Tree(dest_));
    EXPECT_EQ(expected, Tree(deep));
    for (const std::string& name : accepted)
        EXPECT_EQ(name, Read(name));
}

// A component is counted in characters, as the file systems count it: a
// double-byte character is one.
TEST(RecordNames, ComponentsUpTo255Characters) {
    std::string dbcs255, dbcs256;
    for (int i = 0; i < 255; ++i)
        dbcs255 += "能";
    dbcs256 = dbcs255 + "能";
    const struct {
        std::string name;
        int accepted;
    } cases[] = {
        {std::string(255, 'n'), 1},
        {std::string(256, 'n'), 0},
        {"a\\" + std::string(255, 'n') + "\\b", 1},
        {"a\\" + std::string(256, 'n') + "\\b", 0},
        {dbcs255, 1},
        {dbcs256, 0},
        {std::string(254, 'n') + "能", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.accepted, IsSafeRecordName(c.name.c_str())) << c.name.size();
}

TEST(RecordNames, LongestNameThatSomeDestinationTakes) {
    std::string name;
    while (name.size() < kFpMaxNameLength)
        name += std::string(99, 'n') + "\\";
    name.resize(kFpMaxNameLength);
    name.back() = 'n';
    EXPECT_TRUE(IsSafeRecordName(name.c_str()));
    EXPECT_FALSE(IsSafeRecordName((name + "n").c_str()));
    // A double-byte character whose trail byte would pass the limit.
    name.resize(kFpMaxNameLength - 1);
    EXPECT_FALSE(IsSafeRecordName((name + "\x94").c_str()));
    EXPECT_TRUE(IsSafeRecordName((name.substr(0, name.size() - 1) + "能").c_str()));
    EXPECT_FALSE(IsSafeRecordName(nullptr));
}

TEST_F(Unpack, PathsThatDoNotFitTheBufferAreRefused) {
    // Prefix (destination and backslash) + name + NUL fill 4096 bytes exactly.
    const size_t prefix = dest_.size() + 1;
    std::string name;
    while (name.size() < 4096 - prefix - 1)
        name += std::string(50, 'n') + "\\";
    name.resize(4096 - prefix - 1);
    name.back() = 'n';
    // It fits the buffer; the host refuses so deep a path, but not as -9.
    const int fits = Run(Header(1) + FileRecord(name, "x"));
    EXPECT_NE(kFpBadFormat, fits);
    EXPECT_TRUE(fits == kFpOk || fits == kFpCreateFailed) << fits;
    // One byte more: refused before anything is made.
    ts::RemoveTree(dest_);
    EXPECT_EQ(kFpBadFormat, Run(Header(1) + FileRecord(name + "m", "x")));
    EXPECT_EQ(kFpBadFormat, Run(Header(1) + FolderRecord(name + "m", 0x10, kTimeA, kTimeA)));
    // Without its NUL the name just fits in N but leaves no room for the end.
    EXPECT_EQ(kFpBadFormat,
              Run(Header(1) + FileHead(name + "m", 0x20, kTimeA, kTimeA, 0, false) + End()));
    EXPECT_FALSE(ts::Exists(dest_));
    // A name length beyond the buffer is refused without reading the name.
    EXPECT_EQ(kFpBadFormat, Run(Header(1) + "FILE" + U64(0) + U32(0xFFFFFFFF)));
    EXPECT_EQ(kFpBadFormat, Run(Header(1) + "FLDR" + U32(0) + U32(5000)));
    // A destination that leaves no room.
    const std::string longDest = dir_ + "\\" + std::string(4100, 'd');
    EXPECT_EQ(kFpBadFormat, RunInto(longDest, Header(1) + FileRecord("a", "x")));
    EXPECT_EQ(std::vector<std::string>{"a.fpk"}, Tree(dir_));
}

// A name's length is held to what the destination leaves of the buffer
// before a byte of it is read: here the buffer ends where memory does, so a
// name read past it would end the test.
TEST(RecordHead, ANameIsNeverReadPastTheTargetBuffer) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t pages = (kFpPathBufferSize + system.dwPageSize - 1) / system.dwPageSize;
    char* memory = static_cast<char*>(VirtualAlloc(nullptr, (pages + 1) * system.dwPageSize,
                                                   MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, memory);
    char* guard = memory + pages * system.dwPageSize;
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(guard, system.dwPageSize, PAGE_NOACCESS, &old));
    char* target = guard - kFpPathBufferSize;
    const std::string prefix = "C:\\dest\\";
    memcpy(target, prefix.c_str(), prefix.size());
    const size_t room = kFpPathBufferSize - prefix.size();
    for (size_t length : {room, room + 1, kFpPathBufferSize}) {
        const std::string head = U64(0) + U32(static_cast<uint32_t>(length)) +
                                 std::string(length, 'n') + U16(0) + U32(0x20) + U64(kTimeA) +
                                 U64(kTimeA) + U64(0);
        ArchiveReader reader(head.data(), static_cast<DWORD>(head.size()));
        RecordHead record;
        EXPECT_EQ(length == room ? kFpOk : kFpBadFormat,
                  ReadRecordHead(reader, RecordKind::kFile, target, prefix.size(), record))
            << length;
    }
    VirtualFree(memory, 0, MEM_RELEASE);
}

// ---- truncation at every byte ----

TEST_F(Unpack, CutAtEveryByteIsTruncatedOrComplete) {
    std::string archive;
    FolderPackWriter writer;
    writer.UseMemory(&archive);
    ASSERT_TRUE(writer.SetChunkSize(1000));
    FILETIME t = {static_cast<DWORD>(kTimeA), static_cast<DWORD>(kTimeA >> 32)};
    const std::string two = Compressible(1500);
    ASSERT_TRUE(writer.AddFolder("能", 0x10, t, t));
    ASSERT_TRUE(writer.AddFile("能\\two.txt", 0x21, t, t, two.data(), two.size()));
    ASSERT_TRUE(writer.AddFile("empty", 0x20, t, t, "", 0));
    ASSERT_TRUE(writer.AddFile("rand.bin", 0x20, t, t, Random(40).data(), 40));
    ASSERT_TRUE(writer.Finish());
    ASSERT_EQ(4, writer.RecordCount());
    for (size_t cut = 0; cut < archive.size(); ++cut) {
        ASSERT_EQ(kFpTruncated, Run(archive.substr(0, cut))) << cut;
    }
    EXPECT_EQ(kFpOk, Run(archive));
    EXPECT_EQ(kFpOk, Run(archive + "bytes after the last record"));
    EXPECT_EQ(two, Read("能\\two.txt"));
    EXPECT_EQ((std::vector<std::string>{"a.fpk", "dest\\"}), Outside());
}

} // namespace

namespace {

// Removed with the system's rm: deleting a link through the platform's
// calls would reach what it points at.
struct UnixLink {
    std::string path;
    ~UnixLink() {
        if (!path.empty())
            ts::RemoveUnixSymlink(path);
    }
};

} // namespace

// A link or junction below the destination is never passed through, by a
// folder record, a file record or a folder made on the way, with the
// update's options as with the plain call: the record fails before anything
// is made beyond it. (Wine shows a Unix link as a plain folder; the
// unpacker tells it by the folder's final path.)
TEST_F(Unpack, NoRecordPassesThroughAFolderLinkBelowTheDestination) {
    const std::string outside = dir_ + "\\outside";
    const struct {
        const char* what;
        std::string archive;
    } cases[] = {
        {"folder record",
         Header(2) + FolderRecord("sub", 0x10, kTimeA, kTimeA) + FileRecord("sub\\f.txt", "f")},
        {"file record", Header(1) + FileRecord("sub\\f.txt", "f")},
        {"folder made on the way", Header(1) + FileRecord("sub\\new\\f.txt", "f")},
        {"folder record below", Header(1) + FolderRecord("sub\\new", 0x10, kTimeA, kTimeA)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ts::RemoveTree(dest_);
        ASSERT_TRUE(MakeDirAt(outside));
        ASSERT_TRUE(MakeDirAt(dest_));
        UnixLink link;
        if (!ts::MakeUnixSymlink(outside, dest_ + "\\sub"))
            GTEST_SKIP() << "SKIPPED LOUDLY: no symbolic link can be made in " << dest_;
        link.path = dest_ + "\\sub";
        ASSERT_TRUE(ts::WriteBytes(archive_, c.archive));
        UnpackOptions options;
        options.overwrite = [](void*, const char*) { return kFpAnswerYes; };
        options.divertName = "WSUS.txt";
        options.divertTo = "WSUS.txt.upd~";
        options.durability = Durability::kFlushed;
        EXPECT_EQ(kFpCreateFailed, ExtractFolderPackWith(dest_.c_str(), archive_.c_str(), options));
        EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME), options.failedError);
        EXPECT_EQ(std::vector<std::string>{}, Tree(outside));
    }
    // A folder of the destination's own is no link.
    ts::RemoveTree(dest_);
    EXPECT_EQ(kFpOk, Run(Header(2) + FolderRecord("sub", 0x10, kTimeA, kTimeA) +
                         FileRecord("sub\\new\\f.txt", "f")));
    EXPECT_EQ("f", Read("sub\\new\\f.txt"));
}
