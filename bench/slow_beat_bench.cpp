// The slow beat's whole-picture comparison: one screen turn at the beat on an
// unchanged photograph-like picture (the whole file image compared with the
// shared snapshot under BMPmutex, nothing sent), at 640 x 480 and 1024 x 600,
// as a ratio to memcmp of the whole file, with the share of one core it
// takes at one beat per kWholeBeatMillis ("core_share", in per cent).
#include <benchmark/benchmark.h>

#include <cstring>

#include "floor_timing.h"
#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"
#include "server/records.h"
#include "server/screen.h"
#include "tools/peer/bmp_writer.h"
#include "tools/peer/screen_picture.h"

namespace {

alignas(kPictureAlign) uint8_t floorCopy[kFrameBufferSize];
wssession viewer;  // a connection's record, zero as the listener hands it out

void BeatCompareVsMemcmp(benchmark::State& state) {
  const int32_t width = int32_t(state.range(0)), height = int32_t(state.range(1));
  loadBenchPicture(makePhotoPicture(width, height));
  // A compressed viewer that holds the picture, as after its first turn.
  flagNew = 255;
  viewer.sent.version = 0;
  viewer.deflateOn = 1;
  screenFrame(&viewer);
  const uint32_t size = bmpFileSize();
  memcpy(floorCopy, BMP_DUMP, size);
  int sent = 0, differs = 0;
  // What the beat does: every pixel counts as written, then a turn looks.
  timeAgainstFloor(
      state, 1.5,
      [&] {
        FrameLock lock;
        bmpNoteWrite(0, 0, width, height);
      },
      [&] { sent += screenFrame(&viewer); }, [&] { differs += memcmp(BMP_DUMP, floorCopy, size); });
  if (sent != 0 || differs != 0) state.SkipWithError("the unchanged picture was sent");
  state.counters["bytes"] = size;
  state.counters["core_share"] = state.counters["us"] / (kWholeBeatMillis * 1000.0) * 100.0;
}
BENCHMARK(BeatCompareVsMemcmp)
    ->Args({640, 480})
    ->Args({1024, 600})
    ->ArgNames({"width", "height"})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
