// The protocol's hot paths: the screen message against the plain memory
// operations it is made of (reported as a ratio in the same run), handshakes
// per second and frames decoded per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "door/http_request.h"
#include "floor_timing.h"
#include "graphics/framebuffer.h"
#include "server/frames.h"
#include "server/handshake.h"
#include "server/picture_png.h"
#include "server/records.h"
#include "server/screen.h"
#include "server/wire.h"
#include "tools/peer/bmp_writer.h"
#include "tools/peer/screen_picture.h"

namespace {

// The 640 x 480 picture (921,654 bytes), streaming as after a first connection.
void loadStreamingPicture() {
  loadScreenPicture();
  flagNew = 255;
}

std::unique_ptr<wssession> newRecord() {
  auto record = std::make_unique<wssession>();
  memset(record.get(), 0, sizeof(wssession));
  return record;
}

// The floor's copy of the picture, on the picture's boundary as the record's is.
alignas(kPictureAlign) uint8_t floorCopy[kFrameBufferSize];

void flipLastByte() {
  FrameLock lock;
  BMP_DUMP[bmpFileSize() - 1] ^= 1;
}

// wsscreen against the plain memory operations it stands for, on the same
// picture: memcmp against a copy while nothing changes; memcmp, then memcpy
// into that copy, when the last byte changes before each call. It should stay
// within 1.1 times of them.
void screenAgainstBaseline(benchmark::State& state, bool change) {
  loadStreamingPicture();
  auto record = newRecord();
  wsscreen(record->txbuf);
  const uint32_t size = bmpFileSize();
  uint8_t* copy = floorCopy;
  memcpy(copy, BMP_DUMP, size);
  int built = 0, differs = 0;
  timeAgainstFloor(
      state, 1.1,
      [&] {
        if (change) flipLastByte();
      },
      [&] { built = wsscreen(record->txbuf); },
      [&] {
        differs = memcmp(BMP_DUMP, copy, size);
        if (differs != 0) memcpy(copy, BMP_DUMP, size);
      });
  if ((built != 0) != change || (differs != 0) != change) state.SkipWithError("unexpected");
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

void ScreenUnchangedVsMemcmp(benchmark::State& state) {
  screenAgainstBaseline(state, false);
}
BENCHMARK(ScreenUnchangedVsMemcmp)->Unit(benchmark::kMicrosecond);

void ScreenChangedVsMemcmpMemcpy(benchmark::State& state) {
  screenAgainstBaseline(state, true);
}
BENCHMARK(ScreenChangedVsMemcmpMemcpy)->Unit(benchmark::kMicrosecond);

const char kRequest[] =
    "GET /chat HTTP/1.1\r\n"
    "Host: panel.local:8080\r\n"
    "Upgrade: websocket\r\n"
    "Connection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Origin: http://panel.local\r\n"
    "Sec-WebSocket-Version: 13\r\n"
    "Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits\r\n"
    "\r\n";

// wsin + wsout on a browser's upgrade request.
void Handshake(benchmark::State& state) {
  auto record = newRecord();
  for (auto _ : state) {
    memcpy(record->rxbuf, kRequest, sizeof kRequest);
    wsin(record.get(), readHttpRequest(record->rxbuf, int(sizeof kRequest) - 1));
    wsout(record.get());
    benchmark::DoNotOptimize(record->reply);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(Handshake);

// A masked pointer report, as a browser sends it, through wsframeLength and
// wsdecode.
void DecodePointerFrame(benchmark::State& state) {
  const char report[] = "mouse_X: 321\r\nmouse_Y: 123\r\n";
  const uint8_t key[4] = {0x12, 0x34, 0x56, 0x78};
  std::vector<uint8_t> frame{kFinalBit | kOpText, uint8_t(kMaskBit | (sizeof report - 1))};
  frame.insert(frame.end(), key, key + 4);
  for (size_t k = 0; k + 1 < sizeof report; ++k) frame.push_back(uint8_t(report[k] ^ key[k % 4]));
  auto record = newRecord();
  for (auto _ : state) {
    const int length = wsframeLength(frame.data(), int(frame.size()));
    benchmark::DoNotOptimize(wsdecode(record.get(), frame.data(), length));
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(DecodePointerFrame);

}  // namespace

// The picture as a PNG for GET /picture.png: the 640 x 480 default picture
// (the calm background) and the photograph-like one, its bytes beside the
// BMP's.
void PictureAsPng(benchmark::State& state) {
  loadBenchPicture(state.range(0) == 0 ? makeBmp(BmpLayout{}, calmBackground) : makePhotoPicture());
  static uint8_t out[kFrameBufferSize];
  int length = 0;
  for (auto _ : state) {
    FrameLock lock;
    length = pictureToPng(0, out, int(sizeof out));
    benchmark::DoNotOptimize(length);
  }
  state.SetLabel(state.range(0) == 0 ? "calm background" : "photograph");
  state.counters["message_bytes"] = length;
  state.counters["raw_bytes"] = bmpFileSize();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PictureAsPng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
