// The drawn-area record: the area of the picture written since the screen
// last took it, so that only that area is compared with what was streamed.
// The pixel primitives widen it under BMPmutex, a panel that writes into
// BMP_DUMP itself widens it with bmpNoteWrite, and the screen
// (server/screen.h) takes it with bmpTakeArea, also under BMPmutex.
//
// A write counts once its hold of BMPmutex ends (bmpSettleHold, run by
// FrameLock): the screen's change test then says whether the noted area's
// bytes differ from what the viewers were sent. Only then is bmpWritten
// raised and the drawn hook called; a redraw that left every byte as it was
// wakes nobody, and its area is dropped.
//
// The slow beat catches what nobody noted: once every kWholeBeatMillis the
// area the screen takes covers the whole file image (headers, palette and
// rows), so any write made under BMPmutex reaches every viewer within the
// beat and a turn. The beat needs
// no thread: the screen's lock-free look (bmpAreaPending) reads the clock.
#pragma once

#include <atomic>
#include <cstdint>

#include "graphics/clip.h"

// Pixel columns [left, right) of rows [top, bottom), empty when right is 0;
// whole covers every byte of the file (a load, or a writer that cannot say
// where it wrote).
struct BmpDirtyArea {
  uint32_t left, top, right, bottom;
  bool whole;
};
// Empty, with its edges where any write widens them without a test.
constexpr BmpDirtyArea kBmpCleanArea{UINT32_MAX, UINT32_MAX, 0, 0, false};

// The slow beat: at most one whole-picture comparison per 2 s, the longest
// the wait for an un-noted write may be, so the fallback costs the least it
// can; a comparison at 640 x 480 is about 1.5 million ARM instructions, under
// 0.1 % of a device's core at this beat (docs/PERFORMANCE.md).
constexpr uint32_t kWholeBeatMillis = 2000;
// The beat's period in milliseconds: kWholeBeatMillis, or 0 to stop the beat
// where a run must not depend on how fast the machine is (the instruction
// counts of tools/op_count.cpp, whose runs under an emulator's log are slow
// enough for a beat to fall due in the middle of a count).
extern std::atomic<uint32_t> bmpBeatMillis;

// Notes a panel's own write into BMP_DUMP: pixel columns [x, x + width) of
// rows [y, y + height), counted as the drawing primitives count them (y = 0
// the first stored row), cut to the picture. Call it while holding BMPmutex
// (the record is guarded by it), in the same hold as the write, so the
// write and its area are taken together and go out at the next turn. A
// write that is not noted still goes out, within the slow beat.
void bmpNoteWrite(int32_t x, int32_t y, int32_t width, int32_t height);

// True when the screen has an area to take: something was noted since it
// last took one, or the slow beat is due. Takes no lock.
bool bmpAreaPending();
// Milliseconds until the slow beat is due (0 when it is), or -1 while the
// beat is stopped; for a viewer that sleeps until then. Takes no lock.
int32_t bmpBeatDueInMillis();

// Called at the end of a hold of BMPmutex whose writes changed the picture
// (the first such hold since the screen last took the area), on the drawing
// thread and still under BMPmutex, so viewers that sleep until the picture
// changes wake at once; it must not take BMPmutex. Set once by the server
// (a wake-up of its own); nothing is called while it is null.
using BmpDrawnHook = void (*)();
extern std::atomic<BmpDrawnHook> bmpDrawnHook;
// Says whether the bytes of `area` differ from the picture the viewers were
// sent (true when it cannot tell); called under BMPmutex at the end of a hold
// that noted a write, and must not take BMPmutex. Set once by the server;
// while it is null every noted write counts as a change.
using BmpChangeTest = bool (*)(const BmpDirtyArea& area);
extern std::atomic<BmpChangeTest> bmpChangeTest;
// The end of a hold of BMPmutex (FrameLock calls it before it unlocks): when
// the hold noted a write and nothing is pending yet, asks the change test;
// a change raises bmpWritten and calls the hook, no change drops the area.
void bmpSettleHold();
// Takes the area written since the last take and leaves the record clean;
// when the slow beat is due the area is the whole file, and the next beat is
// due bmpBeatMillis later. The caller holds BMPmutex.
BmpDirtyArea bmpTakeArea();

// Guarded by BMPmutex.
extern BmpDirtyArea bmpDirty;
// Raised with every note; guarded by BMPmutex and settled when the hold ends.
extern bool bmpNoted;
// Raised at the end of a hold whose writes changed the picture, so a reader
// can see without the lock that nothing was drawn since it last took the
// area.
extern std::atomic<bool> bmpWritten;

// Widens bmpDirty by count pixels in each of rows rows from (x, y); the
// caller holds BMPmutex and has clipped the block. Called for every pixel
// BMP_SetPixel sets, so it only takes minima and maxima.
inline void bmpNoteWritten(uint32_t x, uint32_t y, uint32_t count, uint32_t rows) {
  BmpDirtyArea& area = bmpDirty;
  area.left = x < area.left ? x : area.left;
  area.top = y < area.top ? y : area.top;
  area.right = x + count > area.right ? x + count : area.right;
  area.bottom = y + rows > area.bottom ? y + rows : area.bottom;
  bmpNoted = true;
}
// Marks the whole file written; the caller holds BMPmutex.
inline void bmpNoteWhole() {
  bmpDirty.whole = true;
  bmpNoted = true;
}

// Notes the pixel columns [left, right) of rows [top, bottom) as written,
// cut to columns [0, rightEdge) and rows [0, bottomEdge); nothing when the
// cut leaves nothing. The caller holds BMPmutex.
inline void bmpNoteBoxWithin(int64_t left, int64_t top, int64_t right, int64_t bottom,
                             int64_t rightEdge, int64_t bottomEdge) {
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > rightEdge) right = rightEdge;
  if (bottom > bottomEdge) bottom = bottomEdge;
  if (left >= right || top >= bottom) return;
  bmpNoteWritten(uint32_t(left), uint32_t(top), uint32_t(right - left), uint32_t(bottom - top));
}

// Notes the pixel columns [left, right) of rows [top, bottom), cut to the
// clip, as written: a shape that sets pixels one at a time through
// bmpPutPixel notes its bounding box once, so every pixel it can set lies
// inside the noted area before the screen looks.
inline void clipNoteBox(int64_t left, int64_t top, int64_t right, int64_t bottom) {
  bmpNoteBoxWithin(left, top, right, bottom, x2_clip, y2_clip);
}
