// One control-loop turn's widget work on the demonstration's layout: the
// slider poll redraws all three sliders every turn whatever happened, so its
// cost is paid 3.3 times a second for the life of the process.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "tools/peer/screen_picture.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"
#include "widgets/widget_pointer.h"

namespace {

int32_t red = 100, green = 100, blue = 100;

void createSliders() {
  loadScreenPicture();
  slidersINIT();
  sliderCREATE(10, 100, 20, 100, 0, 255, &red, 255, 255, 255, 255, 0, 0);
  sliderCREATE(35, 100, 20, 100, 0, 255, &green, 255, 255, 255, 0, 255, 0);
  sliderCREATE(60, 100, 20, 100, 0, 255, &blue, 255, 255, 255, 0, 0, 255);
}

// A quiet turn: no report, every slider redrawn from its variable.
void BM_SliderPollQuiet(benchmark::State& state) {
  createSliders();
  for (auto _ : state) sliderCTRL(0, 0, 0);
}
BENCHMARK(BM_SliderPollQuiet);

// A turn with a fresh report inside the first slider.
void BM_SliderPollWithReport(benchmark::State& state) {
  createSliders();
  for (auto _ : state) {
    pointerEventRaise(sliders.pointerEvent);
    sliderCTRL(20, 150, 0);
  }
}
BENCHMARK(BM_SliderPollWithReport);

// A click on a button: pressed look on one poll, raised look on the poll
// once the press has been shown long enough.
void BM_ButtonClick(benchmark::State& state) {
  loadScreenPicture();
  buttonsINIT();
  buttonCREATE(190, 10, 80, 20, "rect", 127, 127, 255, 0, 0, 0, nullptr);
  int64_t now = 0;
  for (auto _ : state) {
    pointerEventRaise(buttons.pointerEvent);
    buttonsPoll(clickAt(200, 20), now);
    now += kPressShownMs;
    buttonsPoll(clickAt(200, 20), now);
  }
}
BENCHMARK(BM_ButtonClick);

}  // namespace
