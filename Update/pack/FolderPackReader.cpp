#include "FolderPackReader.h"

#include "ChunkInflater.h"
#include "Mbcs.h"
#include "Owners.h"
#include "PathHelpers.h"

#include <string.h>

namespace {

// Original lengths are signed 32-bit counts.
constexpr uint32_t kMaxOriginalLength = 0x7FFFFFFF;

// Letters compared without regard to case; other bytes must be equal.
bool EqualsNoCase(const char* text, size_t length, const char* name) {
    for (size_t i = 0; i < length; ++i) {
        char a = text[i], b = name[i];
        if (b == '\0')
            return false;
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return name[length] == '\0';
}

// The platform opens these devices for a name of any folder whose part
// before the first dot, trailing blanks removed, is one of them.
bool IsDeviceName(const char* component, size_t length) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t n = 0;
    while (n < length && component[n] != '.')
        ++n;
    while (n > 0 && component[n - 1] == ' ')
        --n;
    for (const char* device : kDevices)
        if (EqualsNoCase(component, n, device))
            return true;
    return n == 4 && (EqualsNoCase(component, 3, "COM") || EqualsNoCase(component, 3, "LPT")) &&
           component[3] >= '0' && component[3] <= '9';
}

// A trail byte is 0x40 or more: the last byte of a component is '.' or ' '
// only when it is a character of its own.
bool IsAcceptedComponent(const char* component, size_t length) {
    if (length == 0)
        return false;
    const char last = component[length - 1];
    return last != '.' && last != ' ' && !IsDeviceName(component, length) &&
           !EqualsNoCase(component, length, kFpNewFileName);
}

bool IsRefusedByte(unsigned char c) {
    return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' ||
           c == '/' || c == ':';
}

} // namespace

bool ArchiveReader::Read(void* out, DWORD length) {
    char* to = static_cast<char*>(out);
    DWORD buffered = end_ - position_;
    if (buffered >= length) {
        memcpy(to, buffer_ + position_, length);
        position_ += length;
        return true;
    }
    if (buffered > 0) {
        memcpy(to, buffer_ + position_, buffered);
        to += buffered;
        length -= buffered;
    }
    position_ = end_ = 0;
    if (length >= capacity_) {
        DWORD got = 0;
        return ReadFile(archive_, to, length, &got, nullptr) && got == length;
    }
    while (length > 0) {
        DWORD got = 0;
        if (!ReadFile(archive_, buffer_, capacity_, &got, nullptr) || got == 0)
            return false;
        const DWORD take = got < length ? got : length;
        memcpy(to, buffer_, take);
        to += take;
        length -= take;
        position_ = take;
        end_ = got;
    }
    return true;
}

int IsSafeRecordName(const char* name) {
    if (name == nullptr)
        return 0;
    const size_t length = strnlen(name, kFpMaxNameLength + 1);
    if (length == 0 || length > kFpMaxNameLength)
        return 0;
    size_t component = 0;
    for (size_t i = 0; i < length;) {
        const size_t n = MbcsCharLength(name, length, i);
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (n == 1) {
            if (MbcsIsLeadByte(c) || IsRefusedByte(c))
                return 0;
            if (c == '\\') {
                if (!IsAcceptedComponent(name + component, i - component))
                    return 0;
                component = i + 1;
            }
        }
        i += n;
    }
    return IsAcceptedComponent(name + component, length - component) ? 1 : 0;
}

int BuildDestinationPrefix(const char* destinationFolder, char* prefix) {
    if (destinationFolder == nullptr)
        return 0;
    const size_t length = strnlen(destinationFolder, kFpPathBufferSize);
    if (length >= kFpPathBufferSize)
        return 0;
    memcpy(prefix, destinationFolder, length + 1);
    return AppendBackslash(prefix, kFpPathBufferSize);
}

int ReadArchiveHeader(ArchiveReader& reader, int32_t& recordCount) {
    char signature[16];
    if (!reader.Read(signature, sizeof signature))
        return kFpTruncated;
    if (memcmp(signature, kFpSignature, sizeof kFpSignature) != 0)
        return kFpBadFormat;
    if (!reader.ReadValue(recordCount))
        return kFpTruncated;
    return kFpOk;
}

int ReadRecordHead(ArchiveReader& reader, bool fileRecord, const char* prefix, char* target,
                   RecordHead& head) {
    // FILE: the rest length (8 bytes); FLDR: a field nobody uses (4 bytes).
    uint64_t firstField = 0;
    if (!reader.Read(&firstField, fileRecord ? 8 : 4))
        return kFpTruncated;
    uint32_t nameLength = 0;
    if (!reader.ReadValue(nameLength))
        return kFpTruncated;
    const size_t prefixLength = strlen(prefix);
    if (nameLength > kFpPathBufferSize - prefixLength)
        return kFpBadFormat;
    memset(target, 0, kFpPathBufferSize);
    memcpy(target, prefix, prefixLength);
    if (!reader.Read(target + prefixLength, nameLength))
        return kFpTruncated;
    uint16_t reserved = 0;
    if (!reader.ReadValue(reserved) || !reader.ReadValue(head.attributes) ||
        !reader.ReadValue(head.creationTime) || !reader.ReadValue(head.lastWriteTime))
        return kFpTruncated;
    head.originalSize = 0;
    if (fileRecord && !reader.ReadValue(head.originalSize))
        return kFpTruncated;
    // The whole target ends within the buffer and its name stays inside.
    if (strnlen(target, kFpPathBufferSize) >= kFpPathBufferSize ||
        !IsSafeRecordName(target + prefixLength))
        return kFpBadFormat;
    return kFpOk;
}

int ReadChunkHead(ArchiveReader& reader, uint32_t& dataLength, uint32_t& originalLength) {
    uint32_t chunkLength = 0;
    if (!reader.ReadValue(chunkLength) || !reader.ReadValue(originalLength))
        return kFpTruncated;
    if (chunkLength < 4 || chunkLength - 4 > kFpMaxChunkData || originalLength > kMaxOriginalLength)
        return kFpBadFormat;
    dataLength = chunkLength - 4;
    return kFpOk;
}

namespace {

bool DiscardPiece(void*, const char*, uint32_t) {
    return true;
}

// The chunks and end of a FILE record whose head has been read, as the
// unpacker reads them.
int TestChunks(ArchiveReader& reader, ChunkCheck check, HeapBlock& chunkBuffer,
               ChunkInflater& inflater, RecordSummary& summary) {
    uint64_t produced = 0;
    for (;;) {
        uint32_t tag = 0;
        if (!reader.ReadValue(tag))
            return kFpTruncated;
        if (tag == kFpTagEnd)
            break;
        if (tag != kFpTagChunk)
            return kFpBadFormat;
        uint32_t dataLength = 0, originalLength = 0;
        const int chunkResult = ReadChunkHead(reader, dataLength, originalLength);
        if (chunkResult != kFpOk)
            return chunkResult;
        if (!chunkBuffer.IsValid()) {
            chunkBuffer.Reset(malloc(kFpMaxChunkData));
            if (!chunkBuffer.IsValid())
                return kFpNoMemory;
        }
        if (!reader.Read(chunkBuffer.Bytes(), dataLength))
            return kFpTruncated;
        if (dataLength == originalLength) {
            ++summary.stored;
        } else {
            ++summary.compressed;
            if (check == ChunkCheck::Inflate &&
                !inflater.Inflate(chunkBuffer.Bytes(), dataLength, originalLength, DiscardPiece,
                                  nullptr))
                return kFpWriteFailed;
        }
        ++summary.chunks;
        summary.chunkData += dataLength;
        produced += originalLength;
    }
    if (produced != summary.head.originalSize)
        return kFpSizeMismatch;
    uint32_t trailer = 0;
    if (!reader.ReadValue(trailer))
        return kFpTruncated;
    return kFpOk;
}

} // namespace

int TestFolderPackHandle(HANDLE archive, const char* destinationFolder, ChunkCheck check,
                         RecordVisitor visitor, void* context) {
    if (!UniqueHandle::IsValid(archive))
        return kFpCreateFailed;
    char prefix[kFpPathBufferSize] = "\\";
    if (destinationFolder != nullptr && !BuildDestinationPrefix(destinationFolder, prefix))
        return kFpBadFormat;
    const size_t prefixLength = strlen(prefix);
    HeapBlock readAhead(malloc(kFpReadAheadSize));
    ArchiveReader reader(archive, readAhead.Bytes(), kFpReadAheadSize);
    int32_t recordCount = 0;
    const int headerResult = ReadArchiveHeader(reader, recordCount);
    if (headerResult != kFpOk)
        return headerResult;
    HeapBlock target(malloc(kFpPathBufferSize));
    if (!target.IsValid())
        return kFpNoMemory;
    HeapBlock chunkBuffer;
    ChunkInflater inflater;
    for (int32_t record = 1; record <= recordCount; ++record) {
        uint32_t tag = 0;
        if (!reader.ReadValue(tag))
            return kFpTruncated;
        if (tag != kFpTagFile && tag != kFpTagFolder)
            return kFpBadFormat;
        RecordSummary summary;
        summary.folder = tag == kFpTagFolder;
        int result = ReadRecordHead(reader, !summary.folder, prefix, target.Bytes(), summary.head);
        if (result != kFpOk)
            return result;
        if (summary.folder) {
            uint32_t end = 0, trailer = 0;
            if (!reader.ReadValue(end))
                return kFpTruncated;
            if (end != kFpTagEnd)
                return kFpBadFormat;
            if (!reader.ReadValue(trailer))
                return kFpTruncated;
        } else {
            result = TestChunks(reader, check, chunkBuffer, inflater, summary);
            if (result != kFpOk)
                return result;
        }
        if (visitor != nullptr) {
            summary.name = target.Bytes() + prefixLength;
            visitor(context, summary);
        }
    }
    return kFpOk;
}
