#include "FolderPackReader.h"

#include <string.h>

namespace {

// Original lengths are signed 32-bit counts.
constexpr uint32_t kMaxOriginalLength = 0x7FFFFFFF;

// A component of dots and spaces with two dots or more climbs out (the
// platform trims trailing dots and spaces).
bool IsClimbingComponent(const unsigned char* begin, const unsigned char* end) {
    int dots = 0;
    for (const unsigned char* p = begin; p < end; ++p) {
        if (*p == '.')
            ++dots;
        else if (*p != ' ')
            return false;
    }
    return dots >= 2;
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
    if (name == nullptr || name[0] == '\0' || name[0] == '\\' || name[0] == '/')
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    const unsigned char* component = p;
    while (*p != '\0') {
        // A trail byte is 0x40 or more: it may be 0x5C, never '/', '.' or ':'.
        if (IsDBCSLeadByte(*p) && p[1] >= 0x40) {
            p += 2;
            continue;
        }
        if (*p == ':')
            return 0;
        if (*p == '\\' || *p == '/') {
            if (IsClimbingComponent(component, p))
                return 0;
            component = p + 1;
        }
        ++p;
    }
    return IsClimbingComponent(component, p) ? 0 : 1;
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
