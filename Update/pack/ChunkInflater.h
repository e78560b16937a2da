// Inflating compressed chunks piece by piece, so that a chunk of any original
// length passes through one buffer of fixed size.
#pragma once

#include "Owners.h"

#include <stdint.h>
#include <zlib.h>

// Content bytes handed on at a time.
constexpr uint32_t kFpInflatePieceSize = 512 * 1024;

class ChunkInflater {
  public:
    // Takes each piece of content in order; false stops the inflate.
    typedef bool (*PieceSink)(void* context, const char* piece, uint32_t length);

    ChunkInflater() = default;
    ~ChunkInflater();
    ChunkInflater(const ChunkInflater&) = delete;
    ChunkInflater& operator=(const ChunkInflater&) = delete;

    // Inflates one chunk's data: one complete zlib stream, bytes after its end
    // ignored. True only when the stream ends after exactly originalLength
    // bytes and the sink took every piece; pieces may have gone to the sink
    // before a failure shows. False too when no memory can be had for the
    // zlib state or the piece buffer (both are kept for the next chunk).
    bool Inflate(const void* data, uint32_t dataLength, uint32_t originalLength, PieceSink sink,
                 void* context);

  private:
    z_stream stream_ = {};
    bool ready_ = false;
    HeapBlock piece_;
};
