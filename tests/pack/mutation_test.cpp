// Mutated archives: whatever the bytes say, the unpacker ends with one of its
// result codes, writes nothing outside the destination, and keeps no handle
// or memory from one archive to the next.
#include <gtest/gtest.h>

#include "Owners.h"
#include "PackTestUtil.h"
#include "TestSupport.h"
#include "pack/FolderPack.h"
#include "pack/FolderPackWriter.h"

#include <psapi.h>
#include <string.h>
#include <set>
#include <string>
#include <vector>

#ifndef PACK_MUTATION_COUNT
#define PACK_MUTATION_COUNT 20000
#endif
#ifndef PACK_MUTATION_SECONDS
#define PACK_MUTATION_SECONDS 40
#endif

using namespace pt;

namespace {

struct Rng {
    uint64_t x;
    uint32_t Next() {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return static_cast<uint32_t>(x >> 16);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
};

int Yes(const char*) {
    return 6;
}

// Progress values must stay consistent with the records (bytes done may pass
// the total when the chunks say more than the size).
bool g_progressBad = false;
int CheckProgress(int32_t item, int32_t count, uint64_t done, uint64_t total) {
    if (item == 0 ? count != 0 : (item < 0 || item > count || done != 0 || total != 0))
        g_progressBad = true;
    return 0;
}

std::vector<std::string> BaseArchives() {
    std::vector<std::string> bases;
    FILETIME t = {0x12345678, 0x01D00000};
    {
        std::string a;
        FolderPackWriter w;
        w.UseMemory(&a);
        w.SetChunkSize(700);
        const std::string text = Compressible(2000, 11), bin = Random(300, 12);
        w.AddFolder("能", 0x10, t, t);
        w.AddFile("能\\表.txt", 0x21, t, t, text.data(), text.size());
        w.AddFile("bin", 0x20, t, t, bin.data(), bin.size());
        w.AddFile("empty", 0x22, t, t, "", 0);
        w.AddFolder("a\\b", 0x12, t, t);
        w.AddFile("a\\b\\c.txt", 0x20, t, t, "hello", 5);
        w.Finish();
        bases.push_back(a);
    }
    {
        // The same file twice, and stored chunks that look compressed.
        const std::string stream = Deflate(Compressible(900, 13));
        std::string a = Header(3) + FileRecord("x.txt", Compressible(1200, 14)) +
                        FileHead("x.txt", 0x20, 0, 0, stream.size()) + StoredChunk(stream) + End() +
                        FolderRecord("f", 0x10, 0, 0);
        bases.push_back(a);
    }
    return bases;
}

void Mutate(std::string& a, Rng& rng) {
    static const uint8_t bytes[] = {0, 1, 0x2E, 0x2F, 0x3A, 0x5C, 0x7F, 0x80, 0x94, 0xFF};
    static const uint32_t words[] = {0,        1,          3,          4,          5,
                                     8,        0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x600004,
                                     0x600005, 0x100,      0xFFFF,     0x1000,     0xFF0};
    static const char* tags[] = {"FILE", "FLDR", "FPCK", "FEND"};
    static const char* names[] = {"..\\", "..", "C:\\", "\\\\", "/../", ":", "\\"};
    const int rounds = 1 + static_cast<int>(rng.Below(3));
    for (int r = 0; r < rounds && !a.empty(); ++r) {
        const size_t at = rng.Below(static_cast<uint32_t>(a.size()));
        switch (rng.Below(9)) {
        case 0:
            a[at] = static_cast<char>(a[at] ^ (1 << rng.Below(8)));
            break;
        case 1:
            a[at] = static_cast<char>(bytes[rng.Below(sizeof bytes)]);
            break;
        case 2: {
            const uint32_t v = words[rng.Below(sizeof words / sizeof words[0])];
            a.replace(at, 4, reinterpret_cast<const char*>(&v), 4);
            break;
        }
        case 3:
            a.resize(at);
            break;
        case 4:
            a.erase(at, 1 + rng.Below(16));
            break;
        case 5: {
            std::string noise;
            for (uint32_t i = 0, n = 1 + rng.Below(16); i < n; ++i)
                noise += static_cast<char>(rng.Next());
            a.insert(at, noise);
            break;
        }
        case 6:
            a.insert(at, a.substr(rng.Below(static_cast<uint32_t>(a.size())), 1 + rng.Below(64)));
            break;
        case 7:
            a.replace(at, 4, tags[rng.Below(4)], 4);
            break;
        default: {
            const char* n = names[rng.Below(sizeof names / sizeof names[0])];
            a.replace(at, strlen(n), n);
            break;
        }
        }
    }
}

struct Usage {
    DWORD handles;    // 0 where the platform does not count them
    uintptr_t probe;  // value of a fresh handle: leaked handles push it up
    SIZE_T heapBytes; // busy bytes of every heap of the process
    SIZE_T committed; // pagefile-backed (private) bytes
    SIZE_T workingSet;
};

SIZE_T BusyHeapBytes() {
    HANDLE heaps[64];
    const DWORD n = GetProcessHeaps(64, heaps);
    SIZE_T busy = 0;
    for (DWORD i = 0; i < n && i < 64; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return busy;
}

Usage TakeUsage() {
    Usage u = {};
    GetProcessHandleCount(GetCurrentProcess(), &u.handles);
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    u.probe = reinterpret_cast<uintptr_t>(probe);
    CloseHandle(probe);
    u.heapBytes = BusyHeapBytes();
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    u.committed = pmc.PagefileUsage;
    u.workingSet = pmc.WorkingSetSize;
    return u;
}

TEST(Mutation, MutatedArchivesEndWithAResultCodeAndStayInside) {
    // root\work\archive, root\work\dest\box\...: an escape shows in the tree of root.
    const std::string root = ts::ScratchDir("mutation");
    const std::string work = root + "\\work";
    const std::string box = work + "\\dest\\box";
    const std::string archive = work + "\\m.fpk";
    ASSERT_TRUE(MakeDirAt(work));
    const std::vector<std::string> cRoot = ts::ListDir("C:");
    const std::vector<std::string> expectedOutside = {"work\\", "work\\dest\\", "work\\m.fpk"};

    UniqueHandle file(CreateFileA(archive.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    const std::set<int> codes = {kFpOk,         kFpCreateFailed, kFpWriteFailed,
                                 kFpOpenFailed, kFpNoMemory,     kFpTruncated,
                                 kFpBadFormat,  kFpSizeMismatch, kFpOverwriteRefused};
    const std::vector<std::string> bases = BaseArchives();
    for (const std::string& base : bases) {
        ts::RemoveTree(box);
        ASSERT_TRUE(ts::WriteBytes(archive + ".base", base));
        ASSERT_EQ(kFpOk, ExtractFolderPack(box.c_str(), (archive + ".base").c_str(), Yes, nullptr));
        DeleteFileA((archive + ".base").c_str());
    }

    Rng rng = {0x5EED1234ABCDull};
    const DWORD start = GetTickCount();
    const DWORD budget = PACK_MUTATION_SECONDS * 1000;
    int iterations = 0;
    std::vector<int> seen(16, 0);
    Usage warm = {};
    for (; iterations < PACK_MUTATION_COUNT && GetTickCount() - start < budget; ++iterations) {
        if (iterations == 300)
            warm = TakeUsage();
        std::string a = bases[rng.Below(static_cast<uint32_t>(bases.size()))];
        Mutate(a, rng);
        const OverwriteCallback overwrite = rng.Below(4) == 0 ? nullptr : Yes;
        int result;
        if (iterations % 16 == 0) {
            // Through the public entry point: open and close each time.
            file.Close();
            ASSERT_TRUE(ts::WriteBytes(archive, a));
            result = ExtractFolderPack(box.c_str(), archive.c_str(), overwrite, CheckProgress);
            file.Attach(CreateFileA(archive.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(file.IsValid());
        } else {
            DWORD put = 0;
            SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
            ASSERT_TRUE(
                WriteFile(file.Get(), a.data(), static_cast<DWORD>(a.size()), &put, nullptr));
            ASSERT_TRUE(SetEndOfFile(file.Get()));
            SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
            result = ExtractFolderPackHandle(box.c_str(), file.Get(), overwrite, CheckProgress);
        }
        if (codes.count(result) == 0 || g_progressBad) {
            ts::WriteBytes(root + "-failure.fpk", a);
            FAIL() << "iteration " << iterations << " result " << result
                   << " progress bad: " << g_progressBad;
        }
        ++seen[-result];
        if (iterations % 128 == 127) {
            std::vector<std::string> outside;
            for (const std::string& e : Tree(root))
                if (e.compare(0, 10, "work\\dest\\") != 0 || e == "work\\dest\\")
                    outside.push_back(e);
            ASSERT_EQ(expectedOutside, outside) << "iteration " << iterations;
            ts::RemoveTree(box);
        }
    }
    file.Close();
    ts::RemoveTree(box);
    const Usage end = TakeUsage();

    printf("%d mutated archives in %lu ms; results:", iterations,
           static_cast<unsigned long>(GetTickCount() - start));
    for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i] != 0)
            printf(" %d:%d", -static_cast<int>(i), seen[i]);
    printf("\nhandles %lu -> %lu, probe handle %#llx -> %#llx, heap %lu -> %lu KiB, committed "
           "%lu -> %lu KiB, working set %lu -> %lu KiB\n",
           warm.handles, end.handles, static_cast<unsigned long long>(warm.probe),
           static_cast<unsigned long long>(end.probe),
           static_cast<unsigned long>(warm.heapBytes / 1024),
           static_cast<unsigned long>(end.heapBytes / 1024),
           static_cast<unsigned long>(warm.committed / 1024),
           static_cast<unsigned long>(end.committed / 1024),
           static_cast<unsigned long>(warm.workingSet / 1024),
           static_cast<unsigned long>(end.workingSet / 1024));
    EXPECT_GT(iterations, 1000);
    // Most mutations must get past the header, or the test tests little.
    EXPECT_GT(seen[0] + seen[1] + seen[2] + seen[10] + seen[11], iterations / 10);
    EXPECT_LE(end.handles, warm.handles + 2);
    EXPECT_LE(end.probe, warm.probe + 8);
    EXPECT_LT(end.heapBytes, warm.heapBytes + (1u << 20));
    EXPECT_LT(end.committed, warm.committed + (8u << 20));
    EXPECT_LT(end.workingSet, warm.workingSet + (8u << 20));
    EXPECT_EQ(cRoot, ts::ListDir("C:"));
    EXPECT_EQ(expectedOutside, Tree(root));
    ts::RemoveTree(root);
}

} // namespace
