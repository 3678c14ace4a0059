// The control loop driving the widgets from pointer reports parsed on another
// thread, as a connection thread would. Runs under ThreadSanitizer (app label).
#include "app/control_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "app/pointer.h"
#include "server/records.h"
#include "support/test_support.h"
#include "tools/peer/clock.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"
#include "widgets/widget_pointer.h"

namespace {

std::atomic<int> actionRuns{0};
void countRun() {
  actionRuns++;
}

void sendReport(const char* text) {
  char payload[80];
  strncpy(payload, text, sizeof payload - 1);
  payload[sizeof payload - 1] = '\0';
  wsworkfunc(payload, int(strlen(payload)));
}

// Waits a few control periods at most for the condition.
constexpr int kControlWaitMs = 3000;
constexpr int kControlStepMs = 10;
template <typename Condition>
bool waitFor(Condition done) {
  return eventually(done, kControlWaitMs, kControlStepMs);
}

TEST(ControlLoop, ReportsFromAnotherThreadMoveASliderAndClickAButton) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  int32_t value = 100;
  buttonsINIT();
  slidersINIT();
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, countRun), 0);
  ASSERT_EQ(sliderCREATE(10, 100, 20, 100, 0, 255, &value, 255, 255, 255, 255, 0, 0), 0);
  work = 255;
  std::thread loop(runControlLoop, nullptr, nullptr);

  sendReport("mouse_X: 20\r\nmouse_Y: 150\r\n");
  const bool sliderMoved = waitFor([] { return !pointerEventRaised(sliders.pointerEvent); });
  sendReport("mouse_X: 50\r\nmouse_Y: 20\r\n");
  const bool clicked = waitFor([] { return actionRuns.load() == 1; });

  work = 0;
  loop.join();
  EXPECT_TRUE(sliderMoved);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(value, 127);
  EXPECT_EQ(buttons.item[0].pressed, 0);
}

std::atomic<int> beats{0};
void countBeat() {
  beats++;
}

TEST(ControlLoop, HeldPressWaitsForTheLiftAndReportsDoNotHurryTheTurns) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  buttonsINIT();
  slidersINIT();
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, countRun), 0);
  actionRuns = 0;
  work = 255;
  const int64_t started = monotonicMs();
  std::thread loop(runControlLoop, countBeat, nullptr);

  sendReport("mouse_X: 50\r\nmouse_Y: 20\r\nmouse_button: down\r\n");
  const bool pressed = waitFor([] { return !pointerEventRaised(buttons.pointerEvent); });
  // Held and moved on the button for longer than a press is shown: each
  // move wakes the loop, and none of them releases it.
  for (int i = 0; i < 25; i++) {
    sendReport("mouse_X: 60\r\nmouse_Y: 22\r\nmouse_button: move\r\n");
    usleep(20000);
  }
  const int whileHeld = actionRuns.load();
  sendReport("mouse_button: up\r\n");
  const bool released = waitFor([] { return actionRuns.load() == 1; });

  work = 0;
  loop.join();
  const int64_t elapsed = monotonicMs() - started;
  EXPECT_TRUE(pressed);
  EXPECT_EQ(whileHeld, 0);
  EXPECT_TRUE(released);
  EXPECT_EQ(buttons.item[0].pressed, 0);
  // One turn at the start, then one per 300 ms at most, however many wakes.
  EXPECT_LE(beats.load(), elapsed / 300 + 1);
  EXPECT_GE(beats.load(), 1);
}

std::atomic<int> turns{0};
std::atomic<int32_t> valueAtFirstTurn{-1};
int32_t setting = 100;  // the slider's bound variable, written on the loop's thread
void recordTurn() {
  if (turns.fetch_add(1) == 0) valueAtFirstTurn = setting;
}

TEST(ControlLoop, TurnFunctionRunsAfterThePollsOfItsTurn) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  buttonsINIT();
  slidersINIT();
  ASSERT_EQ(sliderCREATE(10, 100, 20, 100, 0, 255, &setting, 255, 255, 255, 255, 0, 0), 0);
  sendReport("mouse_X: 20\r\nmouse_Y: 150\r\n");  // waits for the first slider poll
  work = 255;
  std::thread loop(runControlLoop, recordTurn, nullptr);
  const bool turned = waitFor([] { return turns.load() >= 2; });
  work = 0;
  loop.join();
  EXPECT_TRUE(turned);
  EXPECT_EQ(valueAtFirstTurn.load(), 127) << "the first turn's function ran before its slider poll";
}

}  // namespace
