// The compressor, the inflaters and the arenas their memory comes from.
//
// An arena hands out its bytes in order and takes nothing back one piece at
// a time: the compressor is started once and kept, reset before each
// picture; an inflater is started for each message and its arena emptied
// after, so neither ever needs more than one stream's state.
#include "server/deflate.h"

#include <zlib.h>

#include <cstring>

#include "server/records.h"

namespace {

constexpr int kWindowBits = 15;  // negative below: raw DEFLATE, no wrapper
constexpr int kMemoryLevel = 8;
constexpr size_t kArenaAlign = 16;

struct Arena {
  uint8_t* bytes;
  size_t size;
  size_t used;
};

voidpf arenaTake(voidpf opaque, uInt items, uInt size) {
  Arena* arena = static_cast<Arena*>(opaque);
  const uint64_t wanted = uint64_t(items) * size;
  const size_t start = (arena->used + kArenaAlign - 1) & ~(kArenaAlign - 1);
  if (start > arena->size || wanted > arena->size - start) return Z_NULL;
  arena->used = start + size_t(wanted);
  return arena->bytes + start;
}

// Pieces go back all at once, when the arena is emptied.
void arenaGive(voidpf, voidpf) {}

alignas(kArenaAlign) uint8_t deflateBytes[kDeflateArenaSize];
Arena deflateArena{deflateBytes, sizeof deflateBytes, 0};
z_stream compressor;
bool compressorStarted = false;

alignas(kArenaAlign) uint8_t inflateBytes[kMaxClients][kInflateArenaSize];

// A fresh stream whose memory comes from the arena.
void onArena(z_stream* stream, Arena* arena) {
  memset(stream, 0, sizeof *stream);
  stream->zalloc = arenaTake;
  stream->zfree = arenaGive;
  stream->opaque = arena;
}

}  // namespace

int deflatePicture(const uint8_t* raw, uint32_t length, uint8_t* out, uint32_t outSize) {
  if (!compressorStarted) {
    onArena(&compressor, &deflateArena);
    if (deflateInit2(&compressor, kDeflateLevel, Z_DEFLATED, -kWindowBits, kMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      deflateArena.used = 0;
      return kDeflateFailed;
    }
    compressorStarted = true;
  }
  deflateReset(&compressor);
  // Room for a body shorter than the picture and its tail: a stream that
  // fills it (or does not finish) is sent as the picture itself.
  const uint64_t most = uint64_t(length) + kInflateTailSize - 1;
  const uint32_t limit = most < outSize ? uint32_t(most) : outSize;
  compressor.next_in = const_cast<Bytef*>(raw);
  compressor.avail_in = length;
  compressor.next_out = out;
  compressor.avail_out = limit;
  const int result = deflate(&compressor, Z_SYNC_FLUSH);
  const uint32_t made = limit - compressor.avail_out;
  // Unfinished input, or no room left to be sure the flush completed.
  if (result != Z_OK || compressor.avail_in != 0 || compressor.avail_out == 0 ||
      made < kInflateTailSize) {
    return kDeflateNotSmaller;
  }
  const uint32_t body = made - kInflateTailSize;
  if (memcmp(out + body, kEmptyBlockTail, kInflateTailSize) != 0) return kDeflateFailed;
  return int(body);
}

int inflateMessage(int slot, uint8_t* in, int inLength, uint8_t* out, int outSize) {
  if (slot < 0 || slot >= kMaxClients || inLength < 0 || outSize < 0) return kInflateBadData;
  Arena arena{inflateBytes[slot], kInflateArenaSize, 0};
  z_stream stream;
  onArena(&stream, &arena);
  if (inflateInit2(&stream, -kWindowBits) != Z_OK) return kInflateBadData;
  memcpy(in + inLength, kEmptyBlockTail, kInflateTailSize);
  stream.next_in = in;
  stream.avail_in = uInt(inLength + kInflateTailSize);
  // One byte more than allowed, so a message that is too long shows.
  uint8_t spill = 0;
  stream.next_out = out;
  stream.avail_out = uInt(outSize);
  int result = inflate(&stream, Z_SYNC_FLUSH);
  int made = outSize - int(stream.avail_out);
  if ((result == Z_OK || result == Z_BUF_ERROR) && stream.avail_out == 0 && stream.avail_in != 0) {
    stream.next_out = &spill;
    stream.avail_out = 1;
    result = inflate(&stream, Z_SYNC_FLUSH);
    if (stream.avail_out == 0) {
      inflateEnd(&stream);
      return kInflateTooLarge;
    }
  }
  // Whole: every byte taken and a block boundary reached, or a final block
  // ended with at most the added tail left over.
  const bool atBoundary = (stream.data_type & 128) != 0;
  const bool whole = (result == Z_OK && stream.avail_in == 0 && atBoundary) ||
                     (result == Z_STREAM_END && stream.avail_in <= kInflateTailSize);
  inflateEnd(&stream);
  if (!whole) return kInflateBadData;
  return made;
}

size_t deflateArenaUsed() {
  return deflateArena.used;
}

int zlibCompress(int slot, PieceSource source, void* context, uint8_t* out, int outSize) {
  // A 4 KiB window and small tables fit the inflater's arena: about 38 KiB.
  constexpr int kStreamWindowBits = 12;
  constexpr int kStreamMemoryLevel = 5;
  if (slot < 0 || slot >= kMaxClients || outSize < 0) return kDeflateFailed;
  Arena arena{inflateBytes[slot], kInflateArenaSize, 0};
  z_stream stream;
  onArena(&stream, &arena);
  if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, kStreamWindowBits, kStreamMemoryLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    return kDeflateFailed;
  }
  stream.next_out = out;
  stream.avail_out = uInt(outSize);
  uint8_t piece[4096];
  int result = Z_OK;
  for (;;) {
    const int got = source(context, piece, int(sizeof piece));
    stream.next_in = piece;
    stream.avail_in = uInt(got > 0 ? got : 0);
    const int flush = got > 0 ? Z_NO_FLUSH : Z_FINISH;
    result = deflate(&stream, flush);
    // Input left over means the output is full.
    if (result == Z_STREAM_ERROR || stream.avail_in != 0 || flush == Z_FINISH) break;
  }
  const int made = outSize - int(stream.avail_out);
  deflateEnd(&stream);
  return result == Z_STREAM_END ? made : kDeflateNotSmaller;
}
