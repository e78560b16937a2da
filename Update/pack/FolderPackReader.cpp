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

// Characters of one component: what the file systems count (UTF-16 units;
// every character of code page 932 is one).
size_t ComponentCharacters(const char* component, size_t length) {
    size_t characters = 0;
    for (size_t i = 0; i < length; i += MbcsCharLength(component, length, i))
        ++characters;
    return characters;
}

// A trail byte is 0x40 or more: the last byte of a component is '.' or ' '
// only when it is a character of its own.
bool IsAcceptedComponent(const char* component, size_t length) {
    if (length == 0 || ComponentCharacters(component, length) > kFpMaxComponentCharacters)
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

bool ArchiveReader::Skip(DWORD length) {
    const DWORD buffered = end_ - position_;
    if (buffered >= length) {
        position_ += length;
        return true;
    }
    if (archive_ == nullptr) {
        // In memory: past the end, where the next read fails.
        position_ = end_;
        return true;
    }
    length -= buffered;
    position_ = end_ = 0;
    LARGE_INTEGER distance;
    distance.QuadPart = length;
    return SetFilePointerEx(archive_, distance, nullptr, FILE_CURRENT) != FALSE;
}

bool IsSafeRecordName(const char* name) {
    if (name == nullptr)
        return false;
    const size_t length = strnlen(name, kFpMaxNameLength + 1);
    if (length == 0 || length > kFpMaxNameLength)
        return false;
    size_t component = 0;
    for (size_t i = 0; i < length;) {
        const size_t n = MbcsCharLength(name, length, i);
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (n == 1) {
            if (MbcsIsLeadByte(c) || IsRefusedByte(c))
                return false;
            if (c == '\\') {
                if (!IsAcceptedComponent(name + component, i - component))
                    return false;
                component = i + 1;
            }
        }
        i += n;
    }
    return IsAcceptedComponent(name + component, length - component);
}

bool BuildDestinationPrefix(const char* destinationFolder, char* prefix) {
    if (destinationFolder == nullptr)
        return false;
    const size_t length = strnlen(destinationFolder, kFpPathBufferSize);
    if (length >= kFpPathBufferSize)
        return false;
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

int ReadRecordHead(ArchiveReader& reader, RecordKind kind, char* target, size_t prefixLength,
                   RecordHead& head) {
    // FILE: the rest length (8 bytes); FLDR: a field nobody uses (4 bytes).
    uint64_t firstField = 0;
    if (!reader.Read(&firstField, kind == RecordKind::kFile ? 8 : 4))
        return kFpTruncated;
    uint32_t nameLength = 0;
    if (!reader.ReadValue(nameLength))
        return kFpTruncated;
    if (nameLength > kFpPathBufferSize - prefixLength)
        return kFpBadFormat;
    char* name = target + prefixLength;
    memset(name, 0, kFpPathBufferSize - prefixLength);
    if (!reader.Read(name, nameLength))
        return kFpTruncated;
    uint16_t reserved = 0;
    if (!reader.ReadValue(reserved) || !reader.ReadValue(head.attributes) ||
        !reader.ReadValue(head.creationTime) || !reader.ReadValue(head.lastWriteTime))
        return kFpTruncated;
    head.originalSize = 0;
    if (kind == RecordKind::kFile && !reader.ReadValue(head.originalSize))
        return kFpTruncated;
    return kFpOk;
}

bool IsSafeTarget(const char* target, size_t prefixLength) {
    // The whole target ends within the buffer and its name stays inside.
    return strnlen(target, kFpPathBufferSize) < kFpPathBufferSize &&
           IsSafeRecordName(target + prefixLength);
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

// The head, chunks and end of one record whose tag has been read; target
// holds the destination prefix.
int WalkRecordBody(ArchiveReader& reader, PackRecord& record, size_t prefixLength,
                   RefusedNames refused, RecordSink& sink) {
    record.name = record.target + prefixLength;
    int result = ReadRecordHead(reader, record.kind, record.target, prefixLength, record.head);
    if (result != kFpOk)
        return result;
    // Every field is read before the name is judged, so that a walk that
    // goes on past a refused name stands at the record's chunks.
    if (!IsSafeTarget(record.target, prefixLength)) {
        record.nameRefused = true;
        if (refused == RefusedNames::kStop)
            return kFpBadFormat;
    }
    result = sink.OnRecord(record);
    if (result != kFpOk)
        return result;
    uint64_t produced = 0;
    for (;;) {
        uint32_t tag = 0;
        if (!reader.ReadValue(tag))
            return kFpTruncated;
        if (tag == kFpTagEnd)
            break;
        if (record.Folder() || tag != kFpTagChunk)
            return kFpBadFormat;
        uint32_t dataLength = 0, originalLength = 0;
        result = ReadChunkHead(reader, dataLength, originalLength);
        if (result == kFpOk)
            result = sink.OnChunk(record, reader, dataLength, originalLength);
        if (result != kFpOk)
            return result;
        ++record.chunks;
        ++(dataLength == originalLength ? record.stored : record.compressed);
        record.chunkData += dataLength;
        produced += originalLength;
    }
    if (!record.Folder() && produced != record.head.originalSize)
        return kFpSizeMismatch;
    uint32_t trailer = 0;
    if (!reader.ReadValue(trailer))
        return kFpTruncated;
    return sink.OnRecordEnd(record);
}

// The destination prefix in a buffer of its own: the destination's, or the
// shortest any destination gives.
int PrefixFor(const char* destinationFolder, char* target, size_t& prefixLength) {
    if (destinationFolder == nullptr)
        memcpy(target, "\\", 2);
    else if (!BuildDestinationPrefix(destinationFolder, target))
        return kFpBadFormat;
    prefixLength = strlen(target);
    return kFpOk;
}

} // namespace

int WalkFolderPack(ArchiveReader& reader, const char* destinationFolder, RefusedNames refused,
                   RecordSink& sink, PackRecord* failed) {
    HeapBlock target(malloc(kFpPathBufferSize));
    if (!target.IsValid())
        return kFpNoMemory;
    size_t prefixLength = 0;
    int result = PrefixFor(destinationFolder, target.Bytes(), prefixLength);
    int32_t count = 0;
    if (result == kFpOk)
        result = ReadArchiveHeader(reader, count);
    if (result != kFpOk)
        return result;
    PackRecord record;
    for (int32_t number = 1; number <= count; ++number) {
        record = PackRecord();
        record.number = number;
        record.count = count;
        record.target = target.Bytes();
        uint32_t tag = 0;
        if (!reader.ReadValue(tag))
            result = kFpTruncated;
        else if (tag != kFpTagFile && tag != kFpTagFolder)
            result = kFpBadFormat;
        else {
            record.kind = tag == kFpTagFile ? RecordKind::kFile : RecordKind::kFolder;
            result = WalkRecordBody(reader, record, prefixLength, refused, sink);
        }
        if (result != kFpOk) {
            if (failed != nullptr)
                *failed = record;
            return result;
        }
    }
    return kFpOk;
}

int WalkOneRecord(ArchiveReader& reader, RecordKind kind, const char* destinationFolder,
                  RecordSink& sink) {
    HeapBlock target(malloc(kFpPathBufferSize));
    if (!target.IsValid())
        return kFpNoMemory;
    size_t prefixLength = 0;
    const int result = PrefixFor(destinationFolder, target.Bytes(), prefixLength);
    if (result != kFpOk)
        return result;
    PackRecord record;
    record.number = record.count = 1;
    record.kind = kind;
    record.target = target.Bytes();
    return WalkRecordBody(reader, record, prefixLength, RefusedNames::kStop, sink);
}

int ReadChunkData(ArchiveReader& reader, HeapBlock& buffer, uint32_t dataLength) {
    if (!buffer.IsValid()) {
        buffer.Attach(malloc(kFpMaxChunkData));
        if (!buffer.IsValid())
            return kFpNoMemory;
    }
    return reader.Read(buffer.Bytes(), dataLength) ? kFpOk : kFpTruncated;
}

namespace {

bool DiscardPiece(void*, const char*, uint32_t) {
    return true;
}

// The test walk: reads every chunk into one buffer, as the unpacker does,
// and inflates it when asked to.
class TestSink : public RecordSink {
  public:
    TestSink(ChunkCheck check, RecordVisitor visitor, void* context)
        : check_(check), visitor_(visitor), context_(context) {}
    int OnRecord(PackRecord&) override { return kFpOk; }
    int OnChunk(PackRecord&, ArchiveReader& reader, uint32_t dataLength,
                uint32_t originalLength) override {
        const int result = ReadChunkData(reader, buffer_, dataLength);
        if (result != kFpOk)
            return result;
        if (dataLength != originalLength && check_ == ChunkCheck::kInflate &&
            !inflater_.Inflate(buffer_.Bytes(), dataLength, originalLength, DiscardPiece, nullptr))
            return kFpWriteFailed;
        return kFpOk;
    }
    int OnRecordEnd(PackRecord& record) override {
        if (visitor_ != nullptr)
            visitor_(context_, record);
        return kFpOk;
    }

  private:
    ChunkCheck check_;
    RecordVisitor visitor_;
    void* context_;
    HeapBlock buffer_;
    ChunkInflater inflater_;
};

} // namespace

int TestFolderPack(ArchiveReader& reader, const char* destinationFolder, ChunkCheck check,
                   RecordVisitor visitor, void* context) {
    TestSink sink(check, visitor, context);
    return WalkFolderPack(reader, destinationFolder, RefusedNames::kStop, sink);
}

int TestFolderPackHandle(HANDLE archive, const char* destinationFolder, ChunkCheck check,
                         RecordVisitor visitor, void* context) {
    if (!UniqueHandle::IsValid(archive))
        return kFpCreateFailed;
    HeapBlock readAhead(malloc(kFpReadAheadSize));
    ArchiveReader reader(archive, readAhead.Bytes(), kFpReadAheadSize);
    return TestFolderPack(reader, destinationFolder, check, visitor, context);
}
