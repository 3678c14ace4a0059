// DEFLATE for the WebSocket stream: a picture compressed into a message
// body, and a received message body inflated. Both use raw DEFLATE with
// the four-byte empty-block tail left off, as per-message compression sends
// it, and every message stands alone.
//
// The compression library takes its memory from fixed arenas set aside
// here, never from the heap: one for the single compressor, one for each
// connection slot's inflater.
#pragma once

#include <cstddef>
#include <cstdint>

// Compression level: of 1, 3, 6 and 9, level 3 gives the smallest product of
// message bytes and compression time on the drawn panel (10.5 KB against
// 14.4 KB at level 1, for about a tenth more time); photograph-like pictures
// and noise come out about the same at every level.
constexpr int kDeflateLevel = 3;

// Memory set aside for the compressor and for each slot's inflater.
constexpr size_t kDeflateArenaSize = 272 * 1024;
constexpr size_t kInflateArenaSize = 44 * 1024;

// Results of deflatePicture and inflateMessage.
constexpr int kDeflateNotSmaller = -1;  // the message would not be smaller than the picture
constexpr int kDeflateFailed = -2;      // the library could not start (no memory)
constexpr int kInflateBadData = -3;     // not a whole, valid DEFLATE stream
constexpr int kInflateTooLarge = -4;    // inflates to more than the room given

// Compresses length bytes of raw into out (outSize bytes): the body's length,
// at most outSize and smaller than length; else a result above. One
// compressor serves the whole server: callers take turns (the screen's lock).
int deflatePicture(const uint8_t* raw, uint32_t length, uint8_t* out, uint32_t outSize);

// Inflates a received message body of inLength bytes into out: the inflated
// length (0 to outSize), kInflateTooLarge when it would be longer than
// outSize, kInflateBadData when it is not valid. The body is extended in
// place by the four tail bytes, so `in` must have 4 bytes of room after it.
// slot picks the inflater; each slot's belongs to its connection thread.
int inflateMessage(int slot, uint8_t* in, int inLength, uint8_t* out, int outSize);
constexpr int kInflateTailSize = 4;
// The tail every flushed message ends with: the sender leaves it off, the
// receiver puts it back before inflating.
constexpr uint8_t kEmptyBlockTail[kInflateTailSize] = {0x00, 0x00, 0xFF, 0xFF};

// Bytes of the compressor's arena in use (its state, once it has started).
size_t deflateArenaUsed();

// Where zlibCompress takes its input: fills up to `size` bytes at `piece` and
// returns how many; 0 ends the input.
using PieceSource = int (*)(void* context, uint8_t* piece, int size);

// Compresses what `source` gives into one zlib stream (header and check
// value) in out: its length, or kDeflateNotSmaller when it does not fit
// outSize, kDeflateFailed when the library could not start. It uses the
// inflater arena of `slot` with a 4 KiB window, so only the slot's own
// connection thread may call it, and only while it receives no message (an
// HTTP request's answer).
int zlibCompress(int slot, PieceSource source, void* context, uint8_t* out, int outSize);
