// Helpers of the Folder Pack tests: archives built byte by byte, files at
// any depth through the wide calls, whole trees, and fpack as a child.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

namespace pt {

// ---- archives, field by field ----
std::string U16(uint16_t v);
std::string U32(uint32_t v);
std::string U64(uint64_t v);
std::string Header(int32_t count, uint32_t headerValue = 1000);
// A FILE record up to its original size; the name's NUL is counted unless
// countNul is false. Chunks and End() follow.
std::string FileHead(const std::string& name, uint32_t attributes, uint64_t creation,
                     uint64_t lastWrite, uint64_t size, bool countNul = true);
std::string StoredChunk(const std::string& content);
// zlib level 1; the caller makes sure that it is shorter than the content.
std::string Deflate(const std::string& content);
std::string CompressedChunk(const std::string& content);
std::string Chunk(uint32_t chunkLength, uint32_t originalLength, const std::string& data);
std::string End();
std::string FolderRecord(const std::string& name, uint32_t attributes, uint64_t creation,
                         uint64_t lastWrite);
// A whole FILE record in one chunk of the writer's choice.
std::string FileRecord(const std::string& name, const std::string& content,
                       uint32_t attributes = 0x20, uint64_t time = 0);

// Text that compresses well, and text that does not, of n bytes.
std::string Compressible(size_t n, unsigned seed = 1);
std::string Random(size_t n, unsigned seed = 1);

// ---- files at any depth ----
std::wstring Wide(const std::string& path); // \\?\ form
bool WriteFileAt(const std::string& path, const std::string& data);
bool ReadFileAt(const std::string& path, std::string& data);
DWORD AttributesAt(const std::string& path);
bool ExistsAt(const std::string& path);
uint64_t LastWriteAt(const std::string& path);
bool MakeDirAt(const std::string& path);
// Every file and folder below root, relative, sorted; folders end in "\".
std::vector<std::string> Tree(const std::string& root);
// A FILETIME of "now" within a minute, as u64.
uint64_t Now();

// ---- programs ----
// Runs the command line, stdout and stderr into output; the exit code, or
// -1 on a timeout.
int Run(const std::string& commandLine, std::string& output, DWORD timeoutMs = 120000);
std::string Fpack();

} // namespace pt
