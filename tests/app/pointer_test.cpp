// Pointer reports: which texts move mX and mY and which raise the flags.
#include "app/pointer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "graphics/framebuffer.h"
#include "server/records.h"
#include "support/test_support.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"
#include "widgets/widget_pointer.h"

namespace {

uint8_t buttonFlag() {
  return std::atomic_ref<uint8_t>(buttons.pointerEvent).load(std::memory_order_acquire);
}
uint8_t sliderFlag() {
  return std::atomic_ref<uint8_t>(sliders.pointerEvent).load(std::memory_order_acquire);
}

class PointerReport : public ::testing::Test {
 protected:
  void SetUp() override {
    mX = -1;
    mY = -1;
    setFlags(0);
  }
  static void setFlags(uint8_t value) {
    std::atomic_ref<uint8_t>(buttons.pointerEvent).store(value);
    std::atomic_ref<uint8_t>(sliders.pointerEvent).store(value);
  }
  // Parses the text as a payload in a buffer of exactly its own length plus
  // the zero byte that follows every decoded payload.
  // Returns what the parser says the report did to the pointer's hold.
  static int parse(const std::string& text) {
    std::vector<char> payload(text.begin(), text.end());
    payload.push_back('\0');
    return wsworkfunc(payload.data(), int(payload.size()));
  }
  static void expectReport(int32_t x, int32_t y, uint8_t flags) {
    EXPECT_EQ(mX.load(), x);
    EXPECT_EQ(mY.load(), y);
    EXPECT_EQ(buttonFlag(), flags);
    EXPECT_EQ(sliderFlag(), flags);
  }
};

struct Case {
  const char* behaviour;
  std::string text;
  int32_t x, y;
  uint8_t flags;  // both flags after the report, starting from 0
};

TEST_F(PointerReport, OnlyAReportWithBothKeysMovesThePointer) {
  const Case cases[] = {
      {"both keys", "mouse_X: 120\r\nmouse_Y: 45\r\n", 120, 45, 255},
      {"either order, LF ends", "mouse_Y: 45\nmouse_X: 120\n", 120, 45, 255},
      {"keys amid other text", "hello\r\nmouse_X: 7\rnoise mouse_Y: 8\r\n", 7, 8, 255},
      {"inner spaces dropped, sign kept", "mouse_X: 1 2\r\nmouse_Y:   -3 4\r\n", 12, -34, 255},
      {"no space after the key gives 0", "mouse_X:120\r\nmouse_Y: 45\r\n", 0, 45, 255},
      {"first occurrence counts", "mouse_X: 1\r\nmouse_X: 2\r\nmouse_Y: 3\r\n", 1, 3, 255},
      // Anything short of both keys leaves the position as it was (-1, -1):
      // a press waiting for the control loop is not moved to (0, 0) and lost.
      {"X only", "mouse_X: 120\r\n", -1, -1, 0},
      {"Y only", "mouse_Y: 9\r\n", -1, -1, 0},
      {"other letter case", "MOUSE_X: 120\r\nMouse_Y: 45\r\n", -1, -1, 0},
      {"a ping's or a pong's payload", "Hello", -1, -1, 0},
      {"empty", "", -1, -1, 0},
      // 60 zeros then 12345: the first 63 characters read 123.
      {"value cut at 63 characters", "mouse_X: " + std::string(60, '0') + "12345\r\nmouse_Y: 1\r\n",
       123, 1, 255},
      {"beyond 32 bits held at the ends", "mouse_X: 99999999999\r\nmouse_Y: -99999999999\r\n",
       INT32_MAX, INT32_MIN, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    mX = -1;
    mY = -1;
    setFlags(0);
    parse(c.text);
    expectReport(c.x, c.y, c.flags);
  }
}

TEST_F(PointerReport, TheButtonLineSaysWhetherThePointerIsHeld) {
  struct ButtonCase {
    const char* behaviour;
    std::string text;
    int32_t x, y, moveX, moveY;
    uint8_t button;  // kUnwritten when the report must leave it alone
    uint8_t flags;
    int hold;  // what the parser tells the connection
  };
  constexpr uint8_t kUnwritten = 99;
  const std::string at = "mouse_X: 5\r\nmouse_Y: 6\r\n";
  const ButtonCase cases[] = {
      {"no line: a click", at, 5, 6, 5, 6, kPointerClicked, 255, kPayloadLetsGo},
      {"down: a press that holds", at + "mouse_button: down\r\n", 5, 6, 5, 6, kPointerHeld, 255,
       kPayloadHolds},
      {"line first", "mouse_button: down\r\n" + at, 5, 6, 5, 6, kPointerHeld, 255, kPayloadHolds},
      {"move: only the pointer moves, nothing is pressed", at + "mouse_button: move\r\n", -1, -1, 5,
       6, kPointerHeld, 0, kPayloadHolds},
      {"up alone: lifted", "mouse_button: up\r\n", -1, -1, -1, -1, kPointerLifted, 0,
       kPayloadLetsGo},
      {"up with coordinates: lifted, nothing moves", at + "mouse_button: up\r\n", -1, -1, -1, -1,
       kPointerLifted, 0, kPayloadLetsGo},
      {"an unknown word: a click", at + "mouse_button: sideways\r\n", 5, 6, 5, 6, kPointerClicked,
       255, kPayloadLetsGo},
      {"move without coordinates: nothing", "mouse_button: move\r\n", -1, -1, -1, -1, kUnwritten, 0,
       kPayloadNeither},
  };
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(c.behaviour);
    mX = mY = mMoveX = mMoveY = -1;
    mButton = kUnwritten;
    setFlags(0);
    EXPECT_EQ(parse(c.text), c.hold);
    expectReport(c.x, c.y, c.flags);
    EXPECT_EQ(mMoveX.load(), c.moveX);
    EXPECT_EQ(mMoveY.load(), c.moveY);
    EXPECT_EQ(mButton.load(), c.button);
  }
}

// Every report counts, in the order it came: what reaches the control loop
// between two polls (one write, one batch of frames, one quiet read of a
// plain client) leaves the slider where the last of it puts it. The slider
// is the demonstration's red one: x 10, y 100, 20 by 100, 0 to 255; a press
// at y 150 gives 127, at 190 229, and past its top end 252.
TEST_F(PointerReport, ALiftAfterMovesLeavesTheSliderAtTheLastMove) {
  const std::string down = "mouse_X: 20\r\nmouse_Y: 150\r\nmouse_button: down\r\n";
  const std::string moveUp = "mouse_X: 20\r\nmouse_Y: 170\r\nmouse_button: move\r\n";
  const std::string moveTop = "mouse_X: 20\r\nmouse_Y: 190\r\nmouse_button: move\r\n";
  const std::string movePast = "mouse_X: 20\r\nmouse_Y: 400\r\nmouse_button: move\r\n";
  const std::string up = "mouse_button: up\r\n";
  const std::string poll;  // an empty step: the control loop polls
  const std::string elsewhere = "mouse_X: 300\r\nmouse_Y: 300\r\n";
  struct Row {
    const char* behaviour;
    std::vector<std::string> steps;
    int32_t value;
  };
  const Row rows[] = {
      {"down, moves and the lift in one go", {down, moveUp, moveTop, up, poll}, 229},
      {"the moves and the lift after a polled press", {down, poll, moveUp, moveTop, up, poll}, 229},
      {"each step polled, as today", {down, poll, moveTop, poll, up, poll}, 229},
      {"down and the lift together: the press", {down, up, poll}, 127},
      {"past the end: held at the end", {down, poll, movePast, up, poll}, 252},
      {"a click: the click", {"mouse_X: 20\r\nmouse_Y: 190\r\n", poll}, 229},
      {"a lift with nothing held moves nothing", {up, poll}, 100},
      // A click from elsewhere lets the drag go where it was polled last.
      {"a click between the moves and the lift", {down, poll, moveTop, elsewhere, up, poll}, 127},
      {"a second lift changes nothing", {down, moveTop, up, poll, up, poll}, 229},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.behaviour);
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    slidersINIT();
    int32_t value = 100;
    ASSERT_EQ(sliderCREATE(10, 100, 20, 100, 0, 255, &value, 255, 255, 255, 255, 0, 0), 0);
    mButton = kPointerClicked;
    for (const std::string& step : row.steps) {
      if (step.empty()) {
        slidersPoll(pointerState());
      } else {
        parse(step);
      }
    }
    EXPECT_EQ(value, row.value);
    EXPECT_EQ(sliders.dragging, 0) << "the lift ends the drag";
    // The panel's own write afterwards stands: a past lift drags nothing.
    value = 42;
    slidersPoll(pointerState());
    EXPECT_EQ(value, 42);
  }
}

TEST_F(PointerReport, FullPayloadWithoutLineEndOrZeroIsReadOnlyToItsEnd) {
  // 1,023 bytes with neither CR, LF nor a zero byte: the scan must stop at
  // the payload's end (an address sanitizer build catches any read past it).
  std::string text = "mouse_Y: 7\r\nmouse_X: ";
  text += std::string(1023 - text.size(), '1');
  std::vector<char> payload(text.begin(), text.end());
  ASSERT_EQ(payload.size(), 1023u);
  wsworkfunc(payload.data(), int(payload.size()));
  expectReport(INT32_MAX, 7, 255);
}

TEST_F(PointerReport, ParserReadsNoFurtherThanTheGivenLength) {
  // The Y line lies past the length given: it is not seen.
  std::string text = "mouse_X: 5\r\nmouse_Y: 6\r\n";
  std::vector<char> payload(text.begin(), text.end());
  wsworkfunc(payload.data(), 12);
  expectReport(-1, -1, 0);
}

TEST_F(PointerReport, ReportsFromSeveralConnectionsAtOnceStayWhole) {
  // Each thread sends its own point with x == -y; whatever the interleaving,
  // the last stores leave a position some thread reported and both flags up.
  constexpr int kThreads = 4;
  constexpr int kReports = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([t] {
      const std::string text =
          "mouse_X: " + std::to_string(t + 1) + "\r\nmouse_Y: " + std::to_string(-(t + 1)) + "\r\n";
      for (int i = 0; i < kReports; i++) parse(text);
    });
  }
  for (int i = 0; i < kReports; i++) {
    if (buttonFlag() != 0) std::atomic_ref<uint8_t>(buttons.pointerEvent).store(0);
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_GE(mX.load(), 1);
  EXPECT_LE(mX.load(), kThreads);
  EXPECT_GE(-mY.load(), 1);
  EXPECT_LE(-mY.load(), kThreads);
  // The clearing loop may have run after the last report; the slider flag,
  // which nothing clears here, shows the reports raised the flags.
  EXPECT_EQ(sliderFlag(), 255);
}

}  // namespace
