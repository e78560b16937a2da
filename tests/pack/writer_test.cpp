// The Folder Pack writer's choices, read back through the one reader of the
// format, and the bytes it writes where the format leaves no choice.
#include <gtest/gtest.h>

#include "FileLayer.h"
#include "PackTestUtil.h"
#include "TestSupport.h"
#include "FolderPackReader.h"
#include "FolderPackWriter.h"

#include <string>
#include <vector>
#include <zlib.h>

using namespace pt;

namespace {

const FILETIME kTime = {0x12345678, 0x01D00000};
const uint64_t kTime64 = (static_cast<uint64_t>(kTime.dwHighDateTime) << 32) | kTime.dwLowDateTime;

uLongf StreamLength(const std::string& piece) {
    return static_cast<uLongf>(Deflate(piece).size());
}

// A piece whose zlib stream (level 1, as the writer makes it) is exactly
// lengthDifference bytes longer than the piece: zeros, then random bytes,
// more zeros until the stream is short enough.
bool FindPiece(long lengthDifference, std::string& piece) {
    for (unsigned seed = 1; seed < 400; ++seed) {
        const size_t n = 600 + seed;
        const std::string noise = Random(n, seed);
        for (size_t zeros = 0; zeros < n; ++zeros) {
            piece = std::string(zeros, '\0') + noise.substr(zeros);
            const long difference = static_cast<long>(StreamLength(piece)) - static_cast<long>(n);
            if (difference == lengthDifference)
                return true;
            if (difference < lengthDifference)
                break;
        }
    }
    return false;
}

// Each record as the reader sees it, every chunk inflated and checked.
struct Seen {
    std::string name;
    bool folder;
    uint32_t attributes;
    uint64_t lastWrite;
    uint32_t stored, compressed;
};

int Walk(const std::string& archive, std::vector<Seen>& seen) {
    ArchiveReader reader(archive.data(), static_cast<DWORD>(archive.size()));
    return TestFolderPack(
        reader, nullptr, ChunkCheck::kInflate,
        [](void* context, const PackRecord& r) {
            const FILETIME& t = r.head.lastWriteTime;
            static_cast<std::vector<Seen>*>(context)->push_back(
                {r.name, r.Folder(), r.head.attributes,
                 (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime, r.stored,
                 r.compressed});
        },
        &seen);
}

TEST(Writer, StoresAPieceUnlessItsStreamIsShorter) {
    // A stream exactly as long as its piece would read back as stored bytes.
    const struct {
        long difference;
        bool stored;
    } cases[] = {{0, true}, {-1, false}, {1, true}};
    const std::string dir = ts::ScratchDir("writer");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.difference);
        std::string piece;
        ASSERT_TRUE(FindPiece(c.difference, piece));
        std::string archive;
        FolderPackWriter writer;
        writer.UseMemory(&archive);
        ASSERT_TRUE(writer.AddFile("p.bin", 0x20, kTime, kTime, piece.data(), piece.size()));
        ASSERT_TRUE(writer.Finish());
        std::vector<Seen> seen;
        ASSERT_EQ(kFpOk, Walk(archive, seen));
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(c.stored ? 1u : 0u, seen[0].stored);
        EXPECT_EQ(c.stored ? 0u : 1u, seen[0].compressed);
        // Round trip.
        ASSERT_TRUE(ts::WriteBytes(dir + "\\a.fpk", archive));
        ts::RemoveTree(dir + "\\out");
        ASSERT_EQ(kFpOk, ExtractFolderPack((dir + "\\out").c_str(), (dir + "\\a.fpk").c_str(),
                                           nullptr, nullptr));
        EXPECT_TRUE(ts::ReadBytes(dir + "\\out\\p.bin") == piece);
    }
    ts::RemoveTree(dir);
}

TEST(Writer, NamesAttributesAndTimesReadBackAsWritten) {
    std::string a;
    FolderPackWriter writer;
    writer.UseMemory(&a);
    ASSERT_TRUE(writer.AddFolder("能\\表", 0x10, kTime, kTime));
    ASSERT_TRUE(writer.AddFile("能\\表\\a.txt", 0x21, kTime, kTime, "x", 1));
    ASSERT_TRUE(writer.Finish());
    std::vector<Seen> seen;
    ASSERT_EQ(kFpOk, Walk(a, seen));
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("能\\表", seen[0].name);
    EXPECT_TRUE(seen[0].folder);
    EXPECT_EQ(0x10u, seen[0].attributes);
    EXPECT_EQ("能\\表\\a.txt", seen[1].name);
    EXPECT_FALSE(seen[1].folder);
    EXPECT_EQ(0x21u, seen[1].attributes);
    EXPECT_EQ(kTime64, seen[1].lastWrite);
}

// Where other readers of the format may look: the exact rest length of a
// FILE record, zero reserved fields and trailers.
TEST(Writer, OneRecordByteForByte) {
    std::string a;
    FolderPackWriter writer;
    writer.UseMemory(&a);
    ASSERT_TRUE(writer.AddFolder("d", 0x10, kTime, kTime));
    ASSERT_TRUE(writer.AddFile("d\\a.txt", 0x20, kTime, kTime, "hi", 2));
    ASSERT_TRUE(writer.Finish());
    std::string file = FileRecord("d\\a.txt", "hi", 0x20, kTime64);
    file.replace(4, 8, U64(file.size() - 12));
    EXPECT_EQ(Header(2) + FolderRecord("d", 0x10, kTime64, kTime64) + file, a);
}

// fpack c puts an archive in place only once it is finished, and a finished
// archive file has its data on the disk: its last call is the flush.
TEST(Writer, AFinishedArchiveFileIsFlushedAfterItsLastWrite) {
    const std::string dir = ts::ScratchDir("writer-flush");
    const std::string path = dir + "\\a.fpk";
    static std::vector<DiskCall> calls;
    calls.clear();
    SetDiskCallHook(
        [](void*, DiskCall call, const char*, const char*, DWORD) {
            calls.push_back(call);
            return true;
        },
        nullptr);
    FolderPackWriter writer;
    const bool written = writer.CreateArchiveFile(path.c_str()) &&
                         writer.AddFile("a.txt", 0x20, kTime, kTime, "hi", 2) && writer.Finish();
    SetDiskCallHook(nullptr, nullptr);
    EXPECT_TRUE(written);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(DiskCall::kCreate, calls.front());
    EXPECT_EQ(DiskCall::kWrite, calls[calls.size() - 2]);
    EXPECT_EQ(DiskCall::kFlush, calls.back());
    ts::RemoveTree(dir);
}

} // namespace
