// The picture as a PNG file image, for scripts that want an ordinary
// picture file: 8-bit RGB, rows top first, each row filtered by its
// difference to the row above, compressed as one zlib stream.
#pragma once

#include <cstdint>

// Results of pictureToPng besides a length.
constexpr int kPngNoPicture = -1;    // no picture was loaded
constexpr int kPngUnsupported = -2;  // a bit depth or layout it does not convert
constexpr int kPngTooLarge = -3;     // the PNG does not fit the room given
constexpr int kPngFailed = -4;       // the compressor could not start

// Writes the frame buffer's picture as a PNG into out (outSize bytes) and
// returns its length. 24- and 32-bit pictures without colour masks and
// 8-bit pictures with a palette convert; others are kPngUnsupported. The
// caller holds BMPmutex; slot names the connection whose compressor memory
// is used (server/deflate.h, zlibCompress).
int pictureToPng(int slot, uint8_t* out, int outSize);
