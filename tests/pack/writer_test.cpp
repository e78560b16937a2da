// The Folder Pack writer's own choices, byte by byte, and their round trip
// through the unpacker.
#include <gtest/gtest.h>

#include "PackTestUtil.h"
#include "TestSupport.h"
#include "pack/FolderPack.h"
#include "pack/FolderPackWriter.h"

#include <string.h>
#include <string>
#include <zlib.h>

using namespace pt;

namespace {

uLongf StreamLength(const std::string& piece) {
    std::string stream(compressBound(static_cast<uLong>(piece.size())), '\0');
    uLongf length = static_cast<uLongf>(stream.size());
    compress2(reinterpret_cast<Bytef*>(&stream[0]), &length,
              reinterpret_cast<const Bytef*>(piece.data()), static_cast<uLong>(piece.size()), 1);
    return length;
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

// The chunks of the archive's first FILE record: data length and data.
std::vector<std::pair<uint32_t, std::string>> Chunks(const std::string& a, uint32_t* original) {
    std::vector<std::pair<uint32_t, std::string>> chunks;
    uint32_t n;
    memcpy(&n, a.data() + 20 + 12, 4);
    size_t at = 20 + 46 + n;
    while (a.compare(at, 4, "FPCK") == 0) {
        uint32_t length;
        memcpy(&length, a.data() + at + 4, 4);
        memcpy(original, a.data() + at + 8, 4);
        chunks.emplace_back(length - 4, a.substr(at + 12, length - 4));
        at += 8 + length;
    }
    return chunks;
}

TEST(Writer, StoresAPieceUnlessItsStreamIsShorter) {
    // A stream exactly as long as its piece would read back as stored bytes.
    const struct {
        long difference;
        bool stored;
    } cases[] = {{0, true}, {-1, false}, {1, true}};
    const std::string dir = ts::ScratchDir("writer");
    for (const auto& c : cases) {
        std::string piece;
        ASSERT_TRUE(FindPiece(c.difference, piece)) << c.difference;
        std::string archive;
        FolderPackWriter writer;
        writer.UseMemory(&archive);
        FILETIME t = {0, 0x01D00000};
        ASSERT_TRUE(writer.AddFile("p.bin", 0x20, t, t, piece.data(), piece.size()));
        ASSERT_TRUE(writer.Finish());
        uint32_t original = 0;
        const auto chunks = Chunks(archive, &original);
        ASSERT_EQ(1u, chunks.size());
        EXPECT_EQ(piece.size(), original);
        EXPECT_EQ(c.stored, chunks[0].first == original) << c.difference;
        if (c.stored) {
            EXPECT_TRUE(chunks[0].second == piece);
        }
        // Round trip.
        ASSERT_TRUE(ts::WriteBytes(dir + "\\a.fpk", archive));
        ts::RemoveTree(dir + "\\out");
        ASSERT_EQ(kFpOk, ExtractFolderPack((dir + "\\out").c_str(), (dir + "\\a.fpk").c_str(),
                                           nullptr, nullptr));
        EXPECT_TRUE(ts::ReadBytes(dir + "\\out\\p.bin") == piece) << c.difference;
    }
    ts::RemoveTree(dir);
}

TEST(Writer, EndsEveryNameWithItsNulAndCountsIt) {
    std::string a;
    FolderPackWriter writer;
    writer.UseMemory(&a);
    FILETIME t = {0, 0x01D00000};
    ASSERT_TRUE(writer.AddFolder("能\\表", 0x10, t, t));
    ASSERT_TRUE(writer.AddFile("能\\表\\a.txt", 0x20, t, t, "x", 1));
    ASSERT_TRUE(writer.Finish());
    uint32_t n;
    memcpy(&n, a.data() + 20 + 8, 4);
    EXPECT_EQ(std::string("能\\表") + '\0', a.substr(20 + 12, n));
    const size_t file = 20 + 42 + n;
    ASSERT_EQ("FILE", a.substr(file, 4));
    memcpy(&n, a.data() + file + 12, 4);
    EXPECT_EQ(std::string("能\\表\\a.txt") + '\0', a.substr(file + 16, n));
}

} // namespace
