#include "FolderPackWriter.h"

#include "FileLayer.h"

#include "FolderPack.h"
#include "LongPath.h"
#include "Owners.h"

#include <string.h>
#include <zlib.h>

namespace {

struct MemorySource {
    const char* data;
};

bool ReadFromMemory(void* context, char* buffer, uint32_t length) {
    MemorySource* source = static_cast<MemorySource*>(context);
    memcpy(buffer, source->data, length);
    source->data += length;
    return true;
}

bool ReadFromFile(void* context, char* buffer, uint32_t length) {
    DWORD got = 0;
    return ReadFile(static_cast<HANDLE>(context), buffer, length, &got, nullptr) && got == length;
}

} // namespace

FolderPackWriter::FolderPackWriter() : chunkSize_(kFpMaxChunkData) {}

FolderPackWriter::~FolderPackWriter() {
    if (UniqueHandle::IsValid(file_))
        CloseHandle(file_);
}

bool FolderPackWriter::CreateArchiveFile(const char* path) {
    path_ = path;
    file_ = DiskOpen(path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (!UniqueHandle::IsValid(file_)) {
        file_ = INVALID_HANDLE_VALUE;
        return ok_ = false;
    }
    Put(kFpSignature, sizeof kFpSignature);
    PutValue<uint32_t>(kFpHeaderValue);
    PutValue<int32_t>(0);
    return ok_;
}

void FolderPackWriter::UseMemory(std::string* out) {
    memory_ = out;
    memory_->clear();
    Put(kFpSignature, sizeof kFpSignature);
    PutValue<uint32_t>(kFpHeaderValue);
    PutValue<int32_t>(0);
}

bool FolderPackWriter::SetChunkSize(uint32_t bytes) {
    if (bytes == 0 || bytes > kFpMaxChunkData)
        return false;
    chunkSize_ = bytes;
    return true;
}

bool FolderPackWriter::Put(const void* data, size_t length) {
    if (!ok_)
        return false;
    if (memory_ != nullptr) {
        memory_->append(static_cast<const char*>(data), length);
    } else {
        if (!UniqueHandle::IsValid(file_) || !DiskWrite(file_, path_.c_str(), data, length))
            return ok_ = false;
    }
    position_ += length;
    return true;
}

bool FolderPackWriter::Patch(uint64_t offset, const void* data, size_t length) {
    if (!ok_)
        return false;
    if (memory_ != nullptr) {
        memory_->replace(offset, length, static_cast<const char*>(data), length);
        return true;
    }
    LARGE_INTEGER at, end;
    at.QuadPart = static_cast<LONGLONG>(offset);
    end.QuadPart = static_cast<LONGLONG>(position_);
    if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) ||
        !DiskWrite(file_, path_.c_str(), data, length) ||
        !SetFilePointerEx(file_, end, nullptr, FILE_BEGIN))
        return ok_ = false;
    return true;
}

bool FolderPackWriter::PutName(const char* name) {
    const size_t length = strlen(name) + 1;
    return PutValue<uint32_t>(static_cast<uint32_t>(length)) && Put(name, length);
}

bool FolderPackWriter::AddFolder(const char* name, uint32_t attributes, FILETIME creationTime,
                                 FILETIME lastWriteTime) {
    PutValue(kFpTagFolder);
    PutValue<uint32_t>(0);
    PutName(name);
    PutValue<uint16_t>(0);
    PutValue(attributes);
    PutValue(creationTime);
    PutValue(lastWriteTime);
    PutValue(kFpTagEnd);
    PutValue<uint32_t>(0);
    if (ok_)
        ++records_;
    return ok_;
}

bool FolderPackWriter::AddFileWith(const char* name, uint32_t attributes, FILETIME creationTime,
                                   FILETIME lastWriteTime, uint64_t size, PieceReader reader,
                                   void* context) {
    PutValue(kFpTagFile);
    const uint64_t restOffset = position_;
    PutValue<uint64_t>(0);
    PutName(name);
    PutValue<uint16_t>(0);
    PutValue(attributes);
    PutValue(creationTime);
    PutValue(lastWriteTime);
    PutValue(size);

    const uint32_t pieceCapacity = static_cast<uint32_t>(size < chunkSize_ ? size : chunkSize_);
    if (ok_ && size > 0) {
        piece_.resize(pieceCapacity);
        stream_.resize(compressBound(pieceCapacity));
    }
    for (uint64_t done = 0; ok_ && done < size;) {
        const uint32_t length =
            static_cast<uint32_t>(size - done < pieceCapacity ? size - done : pieceCapacity);
        if (!reader(context, piece_.data(), length))
            return ok_ = false;
        uLongf streamLength = static_cast<uLongf>(stream_.size());
        const bool compressed =
            compress2(stream_.data(), &streamLength, reinterpret_cast<const Bytef*>(piece_.data()),
                      length, 1) == Z_OK &&
            streamLength < length;
        PutValue(kFpTagChunk);
        if (compressed) {
            PutValue<uint32_t>(static_cast<uint32_t>(4 + streamLength));
            PutValue(length);
            Put(stream_.data(), streamLength);
        } else {
            PutValue<uint32_t>(4 + length);
            PutValue(length);
            Put(piece_.data(), length);
        }
        done += length;
    }
    PutValue(kFpTagEnd);
    PutValue<uint32_t>(0);
    const uint64_t restLength = position_ - (restOffset + sizeof(uint64_t));
    Patch(restOffset, &restLength, sizeof restLength);
    if (ok_)
        ++records_;
    return ok_;
}

bool FolderPackWriter::AddFile(const char* name, uint32_t attributes, FILETIME creationTime,
                               FILETIME lastWriteTime, const void* content, uint64_t size) {
    MemorySource source = {static_cast<const char*>(content)};
    return AddFileWith(name, attributes, creationTime, lastWriteTime, size, ReadFromMemory,
                       &source);
}

bool FolderPackWriter::AddFileFromPath(const char* name, uint32_t attributes, FILETIME creationTime,
                                       FILETIME lastWriteTime, const char* sourcePath) {
    UniqueHandle source(CreateFileLong(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!source.IsValid() || !GetFileSizeEx(source.Get(), &size))
        return ok_ = false;
    return AddFileWith(name, attributes, creationTime, lastWriteTime,
                       static_cast<uint64_t>(size.QuadPart), ReadFromFile, source.Get());
}

bool FolderPackWriter::Finish() {
    const int32_t count = records_;
    Patch(sizeof kFpSignature + sizeof(uint32_t), &count, sizeof count);
    if (UniqueHandle::IsValid(file_)) {
        // The data reaches the disk before the archive takes its name.
        if (ok_ && !DiskFlush(file_, path_.c_str()))
            ok_ = false;
        const DWORD error = GetLastError();
        if (!CloseHandle(file_))
            ok_ = false;
        else
            SetLastError(error);
        file_ = INVALID_HANDLE_VALUE;
    }
    return ok_;
}
