// The change stream's encoding on the photograph-like picture: one page
// connection's change message (the changed rows staged, cut into spans,
// encoded, compressed and copied) after "circle" and after "clear" drawn
// over the photograph, as a ratio to memcpy of the picture (aim: within
// two). The drawing and the putting back of the photograph happen untimed
// before each pair.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "floor_timing.h"
#include "graphics/draw.h"
#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"
#include "server/records.h"
#include "server/screen.h"
#include "tools/peer/bmp_writer.h"

namespace {

alignas(kPictureAlign) uint8_t floorCopy[kFrameBufferSize];

std::vector<uint8_t> loadPhotograph() {
  static std::vector<uint8_t> photo;
  if (!photo.empty()) return photo;
  photo = makePhotoPicture();
  char path[] = "/tmp/panel-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || !writeBytes(path, photo) || dumpBMPinit(path) != kLoadOk) {
    fprintf(stderr, "bench: cannot load the photograph\n");
    exit(1);
  }
  close(fd);
  unlink(path);
  return photo;
}

// The drawing area of the demonstration panel, and the circle "circle" draws.
constexpr int32_t kAreaLeft = 10, kAreaRight = 630, kAreaTop = 470, kAreaBottom = 140;

void changeVsMemcpy(benchmark::State& state, bool clear) {
  const std::vector<uint8_t> photo = loadPhotograph();
  flagNew = 255;
  auto record = std::make_unique<wssession>();
  memset(record.get(), 0, sizeof(wssession));
  record->deflateOn = 1;
  record->changesOn = 255;
  screenFrame(record.get());
  int length = 0;
  const auto draw = [&] {
    {
      FrameLock lock;
      memcpy(BMP_DUMP, photo.data(), photo.size());
      bmpNoteWhole();
    }
    screenFrame(record.get());
    if (clear) {
      rectanglefill(kAreaLeft, kAreaTop, kAreaRight, kAreaBottom, 0, 0, 0);
    } else {
      circle(320, 240, 50, 100, 100, 100);
    }
  };
  timeAgainstFloor(
      state, 2.0, draw, [&] { length = screenFrame(record.get()); },
      [&] { memcpy(floorCopy, BMP_DUMP, bmpFileSize()); });
  if (length <= 0) state.SkipWithError("no change message");
  state.counters["message_bytes"] = length;
}

void ChangeCircleVsMemcpy(benchmark::State& state) {
  changeVsMemcpy(state, false);
}
BENCHMARK(ChangeCircleVsMemcpy)->Unit(benchmark::kMicrosecond);

void ChangeClearVsMemcpy(benchmark::State& state) {
  changeVsMemcpy(state, true);
}
BENCHMARK(ChangeClearVsMemcpy)->Unit(benchmark::kMicrosecond);

}  // namespace
