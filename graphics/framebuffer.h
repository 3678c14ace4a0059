// The frame buffer: one BMP file image held in memory byte for byte, its
// header copies, the pixel geometry derived from them, the pixel primitives,
// the frame-buffer lock and the idle thread. The clip rectangle the
// primitives draw through lives in graphics/clip.h, the record of the area
// they wrote in graphics/drawn_area.h.
//
// Everything here is guarded by BMPmutex: the primitives take no lock, so
// every caller holds BMPmutex for the whole call (or draws through the locked
// interface in graphics/draw.h). The header copies never change after the
// load, so bhfi may be read without the lock once the server runs.
#pragma once

#include <pthread.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "graphics/clip.h"
#include "graphics/drawn_area.h"

constexpr uint32_t kFrameBufferSize = 2097152;  // BMP_DUMP: the largest picture
constexpr uint32_t kInfoHeaderMax = 132;        // bhfor: the largest info header kept
constexpr uint32_t kFileHeaderSize = 14;

// bhfi: the first 16 bytes of the file (14-byte file header and the first two
// bytes of the info header). Its 32-bit fields sit on 2-byte boundaries, so
// they are held as 16-bit halves, low half first.
struct BmpFileHeader {
  uint16_t type;     // "BM" in a normal file
  uint16_t sizeLow;  // file size in bytes
  uint16_t sizeHigh;
  uint16_t reserved1;
  uint16_t reserved2;
  uint16_t offsetLow;  // pixel-data offset
  uint16_t offsetHigh;
  uint16_t infoSizeLow;
};
static_assert(sizeof(BmpFileHeader) == 16);
// The loader reads the file's first bytes straight into bhfi, so its halves
// mean what the file says only on a little-endian machine (x86, ARM Linux).
static_assert(std::endian::native == std::endian::little);

// bhfo: the normalised info header in the shape of the version-3 header. The
// loader fills width, height, planes and bitCount; the rest stays zero.
struct BmpInfoHeader {
  uint32_t size;
  int32_t width;
  int32_t height;
  uint16_t planes;
  uint16_t bitCount;
  uint32_t compression;
  uint32_t sizeImage;
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint32_t clrUsed;
  uint32_t clrImportant;
};
static_assert(sizeof(BmpInfoHeader) == 40);

// bmppar: pixel geometry.
struct BmpGeometry {
  uint32_t bytesPerPixel;
  uint32_t stride;  // row length in bytes, rounded up to a multiple of 4
};
static_assert(sizeof(BmpGeometry) == 8);

// Load results of BMP_FileAnalise, bmpfilework and dumpBMPinit.
constexpr int kLoadOk = 1;
constexpr int kLoadCannotOpen = -1;   // the file cannot be opened
constexpr int kLoadCannotRead = -2;   // empty, or shorter than its headers or its size field
constexpr int kLoadBadFileSize = -3;  // size field larger than BMP_DUMP or smaller than the headers
constexpr int kLoadBadInfoSize = -4;  // info header shorter than 12 or longer than 132 bytes
constexpr int kLoadBadDimensions = -5;  // negative or zero width or height
constexpr int kLoadPixelsOutside = -6;  // pixel array runs past the file size
constexpr int kLoadBadDepth = -7;       // bits per pixel other than 8, 16, 24 or 32
constexpr int kLoadCompressed = -8;     // run-length or other compressed pixels

// Frame-buffer state, guarded by BMPmutex.
// BMP_DUMP starts on this boundary, and so does every connection's copy of a
// large picture (server/records.h): the screen check compares the whole
// picture with the copy on every turn, and with both on one boundary it runs
// whole words on both sides (on 32-bit ARM a copy 10 bytes off costs about a
// third more instructions).
constexpr size_t kPictureAlign = 64;
alignas(kPictureAlign) extern uint8_t BMP_DUMP[kFrameBufferSize];
extern BmpFileHeader bhfi;
extern uint8_t bhfor[kInfoHeaderMax];
extern BmpInfoHeader bhfo;
extern BmpGeometry bmppar;
extern pthread_mutex_t BMPmutex;
extern pthread_t thBMP;

// Holds BMPmutex for its own lifetime: the one way the lock is taken. The
// lock is not recursive: never make one while holding BMPmutex.
class FrameLock {
 public:
  FrameLock() { pthread_mutex_lock(&BMPmutex); }
  ~FrameLock() {
    bmpSettleHold();
    pthread_mutex_unlock(&BMPmutex);
  }
  FrameLock(const FrameLock&) = delete;
  FrameLock& operator=(const FrameLock&) = delete;
};

// Start-up: creates the lock, loads the file under it, starts the idle thread.
int bmpfilework(const char* fileName);
// Loads the file under BMPmutex.
int dumpBMPinit(const char* fileName);
// Loads the file and prints the load report; the caller holds BMPmutex.
int BMP_FileAnalise(const char* fileName);
// Idle frame-buffer thread body: prints its start line, then sleeps for ever.
void* bmpredraw(void* arg);

// Header fields read from bhfi.
inline uint32_t bmpFileSize() {
  return bhfi.sizeLow | (uint32_t(bhfi.sizeHigh) << 16);
}
inline uint32_t bmpPixelOffset() {
  return bhfi.offsetLow | (uint32_t(bhfi.offsetHigh) << 16);
}

// Where pixel (x, y) starts in the file image, as a byte index and as an
// address in BMP_DUMP; the caller has clipped (x, y) (a column one past the
// clip gives the end of a row's span).
inline size_t bmpPixelIndex(uint32_t x, uint32_t y) {
  return bmpPixelOffset() + size_t(y) * bmppar.stride + size_t(x) * bmppar.bytesPerPixel;
}
inline uint8_t* bmpPixelAddress(uint32_t x, uint32_t y) {
  return BMP_DUMP + bmpPixelIndex(x, y);
}

// Pixel primitives: 0 when done, -1 when (x, y) lies outside the clip.
int BMP_SetPixel(int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b);
int iBMP_SetPixel(int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b);
// BMP_SetPixel without widening bmpDirty, for the shapes that set pixels one
// at a time: they note an area holding every pixel they may set first
// (clipNoteBox in graphics/drawn_area.h), then set them through this.
int bmpPutPixel(int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b);
int BMP_GetPixel(int64_t x, int64_t y, uint8_t* r, uint8_t* g, uint8_t* b);
int BMP_XchangePixel(int64_t x, int64_t y, uint8_t newR, uint8_t newG, uint8_t newB, uint8_t oldR,
                     uint8_t oldG, uint8_t oldB);
