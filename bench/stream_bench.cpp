// The compressed stream and the idle screen check, on the demonstration
// panel as the server draws it:
// - compressing the panel's picture, as a ratio to memcpy of its bytes;
// - bytes per message, plain and compressed, for the panel, a picture with a
//   photograph-like gradient and random noise, at each compression level,
//   with the time each level takes;
// - the screen check of an idle panel (the sliders redrawn with the same
//   pixels before every check, as the control loop does on every poll, and
//   the check with nothing drawn at all), as a ratio to the whole-picture
//   memcmp every connection used to make on every turn.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "app/panel.h"
#include "floor_timing.h"
#include "graphics/framebuffer.h"
#include "server/deflate.h"
#include "server/records.h"
#include "server/screen.h"
#include "tools/peer/screen_picture.h"
#include "widgets/sliders.h"

// The drawing colour, which main owns in the server: the panel draws with it.
int32_t R, G, B;

namespace {

alignas(kPictureAlign) uint8_t floorCopy[kFrameBufferSize];
uint8_t packedOut[kFrameBufferSize];

// The panel as the server shows it after start-up.
void drawPanel() {
  static bool drawn = false;
  loadScreenPicture();
  if (drawn) return;
  R = G = B = 100;
  panelApp.create();
  drawn = true;
}

std::vector<uint8_t> panelPicture() {
  drawPanel();
  return std::vector<uint8_t>(BMP_DUMP, BMP_DUMP + bmpFileSize());
}

// The panel's file with its pixels replaced: a smooth two-way gradient with a
// little grain, as a photograph has, or random noise.
std::vector<uint8_t> filledPicture(bool noise) {
  std::vector<uint8_t> bytes = panelPicture();
  std::mt19937 generator(11);
  const uint32_t offset = bmpPixelOffset();
  for (uint32_t i = offset; i < bytes.size(); ++i) {
    const uint32_t pixel = (i - offset) / 3, x = pixel % 640, y = pixel / 640;
    bytes[i] = noise ? uint8_t(generator())
                     : uint8_t((x * (1 + (i - offset) % 3)) / 5 + y / 3 + generator() % 3);
  }
  return bytes;
}

void CompressPanelVsMemcpy(benchmark::State& state) {
  const std::vector<uint8_t> picture = panelPicture();
  const uint32_t size = uint32_t(picture.size());
  int length = 0;
  timeAgainstFloor(
      state, 40.0, [] {},
      [&] { length = deflatePicture(picture.data(), size, packedOut, sizeof packedOut); },
      [&] { memcpy(floorCopy, picture.data(), size); });
  if (length <= 0) state.SkipWithError("not compressed");
  state.counters["raw_bytes"] = size;
  state.counters["message_bytes"] = length;
}
BENCHMARK(CompressPanelVsMemcpy)->Unit(benchmark::kMicrosecond);

// Message bytes for a picture (0 panel, 1 gradient, 2 noise) at a level,
// compressed the way the server does (raw DEFLATE, sync flush, tail off),
// and sent plain when that is not smaller.
void MessageBytes(benchmark::State& state) {
  const int which = int(state.range(0));
  const int level = int(state.range(1));
  const std::vector<uint8_t> picture = which == 0 ? panelPicture() : filledPicture(which == 2);
  auto out = std::make_unique<uint8_t[]>(kFrameBufferSize + 1024);
  z_stream stream{};
  deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  uLong made = 0;
  for (auto _ : state) {
    deflateReset(&stream);
    stream.next_in = const_cast<Bytef*>(picture.data());
    stream.avail_in = uInt(picture.size());
    stream.next_out = out.get();
    stream.avail_out = kFrameBufferSize + 1024;
    deflate(&stream, Z_SYNC_FLUSH);
    made = stream.total_out - 4;
    benchmark::DoNotOptimize(out.get());
  }
  deflateEnd(&stream);
  state.counters["raw_bytes"] = double(picture.size());
  state.counters["deflate_bytes"] = double(made);
  state.counters["message_bytes"] = double(made < picture.size() ? made : picture.size());
  state.counters["level"] = level;
}
BENCHMARK(MessageBytes)
    ->ArgsProduct({{0, 1, 2}, {1, 3, 6, 9}})
    ->ArgNames({"picture", "level"})
    ->Unit(benchmark::kMicrosecond);

// The screen check on an idle panel against the whole-picture memcmp. With
// `redraw` the sliders are redrawn (same pixels) before each check, so the
// check compares their area once; without, nothing was drawn at all. A
// check takes about a microsecond, near the clock's own cost, so each sample
// times kRounds checks in a row; with `redraw` the same rounds of redrawing
// alone are timed too and taken off.
void idleCheck(benchmark::State& state, bool redraw) {
  constexpr int kRounds = 64;
  drawPanel();
  flagNew = 255;
  auto record = std::make_unique<wssession>();
  memset(record.get(), 0, sizeof(wssession));
  record->deflateOn = 1;
  screenFrame(record.get());
  const uint32_t size = bmpFileSize();
  memcpy(floorCopy, BMP_DUMP, size);
  int sent = 0, differs = 0;
  std::vector<double> ratios, checks, floors;
  for (auto _ : state) {
    const double start = threadSeconds();
    for (int i = 0; i < kRounds; ++i) {
      if (redraw) sliderCTRL(0, 0, 0);
      sent += screenFrame(record.get());
    }
    const double checked = threadSeconds();
    for (int i = 0; i < kRounds && redraw; ++i) sliderCTRL(0, 0, 0);
    const double redrawn = threadSeconds();
    for (int i = 0; i < kRounds; ++i) {
      differs += memcmp(BMP_DUMP, floorCopy, size);
      benchmark::ClobberMemory();
    }
    const double compared = threadSeconds();
    const double check = ((checked - start) - (redrawn - checked)) / kRounds;
    const double floor = (compared - redrawn) / kRounds;
    ratios.push_back(check / floor);
    checks.push_back(check);
    floors.push_back(floor);
  }
  if (sent != 0 || differs != 0) state.SkipWithError("the idle panel changed");
  state.counters["ratio"] = medianOf(ratios);
  state.counters["aim"] = 0.02;
  state.counters["us"] = medianOf(checks) * 1e6;
  state.counters["floor_us"] = medianOf(floors) * 1e6;
}

void IdleCheckSlidersRedrawnVsMemcmp(benchmark::State& state) {
  idleCheck(state, true);
}
BENCHMARK(IdleCheckSlidersRedrawnVsMemcmp)->Unit(benchmark::kMicrosecond);

void IdleCheckNothingDrawnVsMemcmp(benchmark::State& state) {
  idleCheck(state, false);
}
BENCHMARK(IdleCheckNothingDrawnVsMemcmp)->Unit(benchmark::kMicrosecond);

}  // namespace
