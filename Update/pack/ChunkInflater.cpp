#include "ChunkInflater.h"

#include "FolderPack.h"

#include <string.h>

ChunkInflater::~ChunkInflater() {
    if (ready_)
        inflateEnd(&stream_);
}

bool ChunkInflater::Inflate(const void* data, uint32_t dataLength, uint32_t originalLength,
                            PieceSink sink, void* context) {
    if (!piece_.IsValid()) {
        piece_.Attach(malloc(kFpInflatePieceSize));
        if (!piece_.IsValid())
            return false;
    }
    if (!ready_) {
        stream_ = z_stream();
        if (inflateInit(&stream_) != Z_OK)
            return false;
        ready_ = true;
    } else if (inflateReset(&stream_) != Z_OK) {
        return false;
    }
    stream_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    stream_.avail_in = dataLength;
    uint32_t produced = 0;
    for (;;) {
        // Never room for more than the original length: a longer stream
        // stops with Z_BUF_ERROR, as it cannot go on.
        const uint32_t room = originalLength - produced;
        stream_.next_out = reinterpret_cast<Bytef*>(piece_.Bytes());
        stream_.avail_out = room < kFpInflatePieceSize ? room : kFpInflatePieceSize;
        const uInt offered = stream_.avail_out;
        const int status = inflate(&stream_, Z_NO_FLUSH);
        const uint32_t got = offered - stream_.avail_out;
        if (got > 0) {
            if (!sink(context, piece_.Bytes(), got))
                return false;
            produced += got;
        }
        if (status == Z_STREAM_END)
            return produced == originalLength;
        // Z_OK means progress, so the loop ends; anything else (a damaged
        // stream, a dictionary, no progress with input or room left) fails.
        if (status != Z_OK)
            return false;
    }
}
