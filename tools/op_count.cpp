// Runs one of the system's hot operations a given number of times on the
// 640 x 480 picture and exits, so an instruction counter (callgrind on the
// host, qemu-arm's execution log for the ARM build) can price it: the count
// for n rounds minus the count for 0 rounds, divided by n, is the cost of one
// round. Each operation is paired with the plain memory operation that is
// its floor where it has one.
//   op-count <operation> <rounds>    prints "<operation> <units> <unit>"
//   op-count list                    prints every operation's name
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "app/pointer.h"
#include "door/access_key.h"
#include "door/http_request.h"
#include "graphics/drawn_area.h"
#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "graphics/shapes.h"
#include "server/frames.h"
#include "server/handshake.h"
#include "server/records.h"
#include "server/screen.h"
#include "server/slot_wake.h"
#include "server/wire.h"
#include "tools/peer/screen_picture.h"
#include "tools/peer/tool_usage.h"
#include "widgets/buttons.h"

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr uint32_t kPixelBytes = uint32_t(kWidth) * kHeight * 3;

wssession record;  // one connection's record, as the connection thread has it
// The floors' copies of the picture, on the picture's own boundary.
alignas(kPictureAlign) uint8_t olderPicture[kFrameBufferSize];
alignas(kPictureAlign) uint8_t sparePicture[kFrameBufferSize];
uint8_t* older = olderPicture;
uint8_t* spare = sparePicture;

void lines() {
  for (int i = 0; i < 64; i++) {
    const int32_t side = i / 16, step = i % 16;
    const int32_t x = side == 0 ? step * 40 : side == 1 ? 639 : side == 2 ? 639 - step * 40 : 0;
    const int32_t y = side == 0 ? 0 : side == 1 ? step * 30 : side == 2 ? 479 : 479 - step * 30;
    BMP_Line(321, 241, x, y, 255, 255, 255);
  }
}

void circles() {
  for (int32_t radius = 10; radius <= 230; radius += 20)
    BMP_Circle(320, 240, radius, 255, 255, 255);
}

void discs() {
  for (int32_t radius = 20; radius <= 200; radius += 60) {
    BMP_Circlefill(320, 240, radius, 255, 255, 255);
  }
}

void text() {
  BMP_textout("The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXY", 0,
              200, 255, 255, 255, 0, 0, 128, 255);
}

// Grey is one byte repeated, as memset writes; a colour repeats three.
void fill() {
  BMP_rect_filled(0, 0, kWidth - 1, kHeight - 1, 0x80, 0x80, 0x80);
}

void fillColour() {
  BMP_rect_filled(0, 0, kWidth - 1, kHeight - 1, 0x12, 0x80, 0xC0);
}

void memsetPixels() {
  memset(BMP_DUMP + bmpPixelOffset(), 0xFF, kPixelBytes);
}

void screenSame() {
  if (wsscreen(record.txbuf) != 0) abort();
}

void memcmpSame() {
  if (memcmp(BMP_DUMP, older, bmpFileSize()) != 0) abort();
}

void screenChanged() {
  BMP_DUMP[bmpFileSize() - 1] ^= 1;
  if (wsscreen(record.txbuf) <= 0) abort();
}

void memcmpMemcpyChanged() {
  BMP_DUMP[bmpFileSize() - 1] ^= 1;
  if (memcmp(BMP_DUMP, older, bmpFileSize()) == 0) abort();
  memcpy(spare, BMP_DUMP, bmpFileSize());
  std::swap(older, spare);
}

// The stream's work: a compressed connection's screen message after one
// pixel changed (the drawn area compared, the picture compressed, the message
// copied), and its check on a turn when nothing was drawn.
wssession packedRecord;
uint8_t shade = 0;
volatile uint8_t benchmarkSink;  // keeps the floor's copy from being left out

void compressChange() {
  BMP_SetPixel(320, 240, ++shade, 0, 0);
  if (screenFrame(&packedRecord) <= 0) abort();
}

void idleTurn() {
  if (screenFrame(&packedRecord) != 0) abort();
}

// A turn at the slow beat: every pixel counts as written and is compared
// with the shared snapshot; the picture is unchanged, so nothing is sent.
void beatTurn() {
  {
    FrameLock lock;
    bmpNoteWrite(0, 0, kWidth, kHeight);
  }
  if (screenFrame(&packedRecord) != 0) abort();
}

// The change stream's work after "circle" and after "clear" (the demo
// panel's drawing area filled): the drawing, each round in a new colour so
// every round is a change, then a page connection's screen message (the
// changed rows staged, encoded, compressed, copied); the drawing alone, to
// take off; and the floor, a memcpy of the picture.
wssession changeRecord;

void drawCircle() {
  BMP_Circle(320, 240, 50, ++shade, 0, 0);
}

void drawClear() {
  ++shade;
  BMP_rect_filled(10, 470, 630, 140, shade, shade, shade);
}

void changeCircle() {
  drawCircle();
  if (screenFrame(&changeRecord) <= 0) abort();
}

void changeClear() {
  drawClear();
  if (screenFrame(&changeRecord) <= 0) abort();
}

void memcpyPicture() {
  memcpy(spare, BMP_DUMP, bmpFileSize());
  benchmarkSink = spare[bmpFileSize() / 2];
}

constexpr char kRequest[] =
    "GET /chat HTTP/1.1\r\nHost: panel.local:8080\r\nUpgrade: websocket\r\n"
    "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Sec-WebSocket-Version: 13\r\n\r\n";

void handshake() {
  memcpy(record.rxbuf, kRequest, sizeof kRequest);
  wsin(&record, readHttpRequest(record.rxbuf, int(sizeof kRequest) - 1));
  wsout(&record);
}

std::vector<uint8_t> pointerFrame;

void decode() {
  wsdecode(&record, pointerFrame.data(),
           wsframeLength(pointerFrame.data(), int(pointerFrame.size())));
}

// One report's path on a page connection, as far as it runs outside the
// kernel: the pointer report's frame decoded and handed to the pointer
// parser, the button's pressed look drawn (the first write wakes the page's
// connection through its slot's eventfd), the connection's poll that finds
// the wake-up, and its change message (staged, encoded, compressed,
// copied). Rounds alternate the pressed and the raised look, so every round
// is a change.
bool pressedNext = true;

void reportPath() {
  decode();
  wsworkfunc(reinterpret_cast<char*>(rdbuf), kRdBufSize);
  // The widget takes BMPmutex itself.
  if (pressedNext) {
    buttonPUSH(10, 10, 80, 20, "circle", 200, 200, 200, 0, 0, 0);
  } else {
    buttonPOP(10, 10, 80, 20, "circle", 200, 200, 200, 0, 0, 0);
  }
  pressedNext = !pressedNext;
  pollfd ready[1] = {{slotWakeFd(0), POLLIN, 0}};
  if (poll(ready, 1, 0) != 1) abort();
  drainSlotWake(0);
  if (screenFrame(&changeRecord) <= 0) abort();
}

// Pixels an operation paints on a black picture.
int64_t inkOf(void (*draw)()) {
  memset(BMP_DUMP + bmpPixelOffset(), 0, kPixelBytes);
  draw();
  int64_t count = 0;
  const uint8_t* pixels = BMP_DUMP + bmpPixelOffset();
  for (uint32_t i = 0; i < kPixelBytes; i += 3)
    count += (pixels[i] | pixels[i + 1] | pixels[i + 2]) != 0;
  return count;
}

// One check of a right control key against a key file with a control key of
// kKeyIterations: the cost every login and Bearer upgrade pays.
KeyFile keyFile;
constexpr char kCheckedKey[] = "fHzq7Tw9rLd2qeAySyxOcQ";

void keyCheck() {
  if (checkKey(keyFile, kCheckedKey, int(sizeof kCheckedKey) - 1) != kAccessControl) abort();
}

struct Operation {
  const char* name;
  void (*run)();
  const char* unit;  // "pixels" (counted by drawing once), "bytes" or "calls"
};

constexpr Operation kOperations[] = {
    {"fill", fill, "pixels"},
    {"fill-colour", fillColour, "pixels"},
    {"memset", memsetPixels, "bytes"},
    {"lines", lines, "pixels"},
    {"circles", circles, "pixels"},
    {"discs", discs, "pixels"},
    {"text", text, "pixels"},
    {"screen-unchanged", screenSame, "bytes"},
    {"memcmp", memcmpSame, "bytes"},
    {"screen-changed", screenChanged, "bytes"},
    {"memcmp-memcpy", memcmpMemcpyChanged, "bytes"},
    {"compress-change", compressChange, "calls"},
    {"idle-turn", idleTurn, "calls"},
    {"beat-turn", beatTurn, "bytes"},
    {"handshake", handshake, "calls"},
    {"decode", decode, "calls"},
    {"key-check", keyCheck, "calls"},
    {"change-circle", changeCircle, "calls"},
    {"draw-circle", drawCircle, "calls"},
    {"change-clear", changeClear, "calls"},
    {"draw-clear", drawClear, "calls"},
    {"memcpy", memcpyPicture, "bytes"},
    {"report-path", reportPath, "calls"},
};

// Puts everything the operations compare against in place, so each round
// does the same work as the one before.
void prepare() {
  BMP_SetFont(kFont8x8);
  flagNew = 255;
  wsscreen(record.txbuf);
  packedRecord.deflateOn = 1;
  screenFrame(&packedRecord);
  changeRecord.deflateOn = 1;
  changeRecord.changesOn = 255;
  screenFrame(&changeRecord);
  memcpy(older, BMP_DUMP, bmpFileSize());
  const char report[] = "mouse_X: 321\r\nmouse_Y: 123\r\n";
  const uint8_t key[4] = {0x12, 0x34, 0x56, 0x78};
  pointerFrame = {
      kFinalBit | kOpText, uint8_t(kMaskBit | (sizeof report - 1)), key[0], key[1], key[2], key[3]};
  for (size_t k = 0; k + 1 < sizeof report; ++k)
    pointerFrame.push_back(uint8_t(report[k] ^ key[k % 4]));
  if (!openSlotWakes()) abort();
  watchPicture(0, true);
  keyFile.control.kind = kAccessControl;
  keyFile.control.iterations = kKeyIterations;
  hashKey(kCheckedKey, int(sizeof kCheckedKey) - 1, keyFile.control.salt, kKeyIterations,
          keyFile.control.hash);
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: op-count <operation> <rounds> | op-count list\n"
      "Runs one hot operation <rounds> times on the 640 x 480 picture, for an\n"
      "instruction counter; list names the operations.\n";
  if (answeredHelp(argc, argv, kUsage)) return 0;
  if (argc == 2 && strcmp(argv[1], "list") == 0) {
    for (const Operation& op : kOperations) printf("%s\n", op.name);
    return 0;
  }
  const Operation* chosen = nullptr;
  for (const Operation& op : kOperations) {
    if (argc == 3 && strcmp(argv[1], op.name) == 0) chosen = &op;
  }
  if (chosen == nullptr) {
    fputs(kUsage, stderr);
    return 2;
  }
  // No slow beat: a count must not depend on how long the run takes. The
  // beat turn brings its own.
  bmpBeatMillis = 0;
  loadScreenPicture();
  const int rounds = atoi(argv[2]);
  int64_t units = strcmp(chosen->unit, "bytes") == 0 ? bmpFileSize() : 1;
  if (chosen->run == memsetPixels) units = kPixelBytes;
  if (strcmp(chosen->unit, "pixels") == 0) {
    BMP_SetFont(kFont8x8);
    units = inkOf(chosen->run);
  }
  prepare();
  for (int round = 0; round < rounds; round++) chosen->run();
  printf("%s %lld %s\n", chosen->name, static_cast<long long>(units), chosen->unit);
  return 0;
}
