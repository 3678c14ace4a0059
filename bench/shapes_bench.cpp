// Drawing speed on the 640 x 480, 24-bit screen: a full-screen fill against
// memset of the same 921,600 bytes (measured side by side in one run); lines,
// circle outlines, discs and a line of text in pixels per second.
#include <benchmark/benchmark.h>

#include <cstring>

#include "floor_timing.h"
#include "graphics/draw.h"
#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "graphics/shapes.h"
#include "tools/peer/screen_picture.h"

namespace {

constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;
constexpr size_t kScreenBytes = size_t(kWidth) * kHeight * 3;

// The fill against memset of the same bytes; it should stay within 1.3 times.
void fillAgainstMemset(benchmark::State& state, uint8_t r, uint8_t g, uint8_t b) {
  loadScreenPicture();
  uint8_t* pixels = BMP_DUMP + bmpPixelOffset();
  timeAgainstFloor(
      state, 1.3, [] {}, [&] { BMP_rect_filled(0, 0, kWidth - 1, kHeight - 1, r, g, b); },
      [&] { memset(pixels, 0x80, kScreenBytes); });
}

// Runs one round per iteration and reports items (pixels, characters) per
// second under the given counter name.
template <typename Round>
void timeRounds(benchmark::State& state, const char* counter, int64_t itemsPerRound, Round round) {
  for (auto _ : state) {
    round();
    benchmark::ClobberMemory();
  }
  state.counters[counter] = benchmark::Counter(double(itemsPerRound) * double(state.iterations()),
                                               benchmark::Counter::kIsRate);
}

void BM_FullScreenFillGrey(benchmark::State& state) {
  fillAgainstMemset(state, 0x80, 0x80, 0x80);
}
BENCHMARK(BM_FullScreenFillGrey);

void BM_FullScreenFillColour(benchmark::State& state) {
  fillAgainstMemset(state, 0x12, 0x80, 0xC0);
}
BENCHMARK(BM_FullScreenFillColour);

// Lines from near the centre to 64 points on the border, all steep and
// shallow slopes; none is axis-aligned, so a line of major delta M draws
// M + 1 pixels.
void BM_Lines(benchmark::State& state) {
  loadScreenPicture();
  constexpr int32_t kCentreX = 321, kCentreY = 241;
  constexpr int kEnds = 64;
  int32_t ends[kEnds][2];
  int64_t pixelsPerRound = 0;
  for (int i = 0; i < kEnds; i++) {
    const int32_t side = i / 16, step = i % 16;
    const int32_t x = side == 0 ? step * 40 : side == 1 ? 639 : side == 2 ? 639 - step * 40 : 0;
    const int32_t y = side == 0 ? 0 : side == 1 ? step * 30 : side == 2 ? 479 : 479 - step * 30;
    ends[i][0] = x;
    ends[i][1] = y;
    const int32_t dx = x > kCentreX ? x - kCentreX : kCentreX - x;
    const int32_t dy = y > kCentreY ? y - kCentreY : kCentreY - y;
    pixelsPerRound += (dx > dy ? dx : dy) + 1;
  }
  timeRounds(state, "pixels/s", pixelsPerRound, [&] {
    for (const auto& end : ends) BMP_Line(kCentreX, kCentreY, end[0], end[1], 255, 255, 0);
  });
}
BENCHMARK(BM_Lines);

// Pixels a drawing paints on a black screen (drawn in a colour that is not black).
template <typename Draw>
int64_t paintedPixels(Draw draw) {
  BMP_rect_filled(0, 0, kWidth - 1, kHeight - 1, 0, 0, 0);
  draw();
  const uint8_t* pixels = BMP_DUMP + bmpPixelOffset();
  int64_t count = 0;
  for (size_t i = 0; i < kScreenBytes; i += 3)
    count += (pixels[i] | pixels[i + 1] | pixels[i + 2]) != 0;
  return count;
}

// Circle outlines of radius 10 to 230.
void BM_CircleOutlines(benchmark::State& state) {
  loadScreenPicture();
  const auto round = [] {
    for (int32_t radius = 10; radius <= 230; radius += 20) BMP_Circle(320, 240, radius, 0, 255, 0);
  };
  timeRounds(state, "pixels/s", paintedPixels(round), round);
}
BENCHMARK(BM_CircleOutlines);

// Discs of radius 20 to 200 drawn over each other, as runs.
void BM_Discs(benchmark::State& state) {
  loadScreenPicture();
  const auto round = [] {
    for (int32_t radius = 20; radius <= 200; radius += 60) {
      BMP_Circlefill(320, 240, radius, 0, 255, 0);
    }
  };
  int64_t pixels = 0;
  for (int32_t radius = 20; radius <= 200; radius += 60) {
    pixels += paintedPixels([=] { BMP_Circlefill(320, 240, radius, 0, 255, 0); });
  }
  timeRounds(state, "pixels/s", pixels, round);
}
BENCHMARK(BM_Discs);

// One 80-character line of 8 x 8 text with its background, the way a label
// is drawn: every pixel of every cell is written.
void BM_TextLine(benchmark::State& state) {
  loadScreenPicture();
  BMP_SetFont(kFont8x8);
  const char* text =
      "The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXY";
  const auto round = [&] { BMP_textout(text, 0, 200, 255, 255, 255, 0, 0, 128, 255); };
  timeRounds(state, "pixels/s", paintedPixels(round), round);
}
BENCHMARK(BM_TextLine);

// The locked fill, as a panel action draws it: lock, fill, unlock.
void BM_LockedFill(benchmark::State& state) {
  loadScreenPicture();
  for (auto _ : state) {
    rectanglefill(0, 0, kWidth - 1, kHeight - 1, 0x12, 0x80, 0xC0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LockedFill);

}  // namespace
