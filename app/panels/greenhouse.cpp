// Example panel: a greenhouse heater. Two buttons switch the heater on and off
// and a lamp beside them shows which; a slider sets the temperature to keep;
// the air temperature, simulated here, is shown as text and as a bar that the
// per-turn function redraws whenever it has changed; the set point's readout
// is redrawn as soon as its slider moves.
//
// Everything in this file runs on the main thread: the creation at start-up,
// the button actions and the slider's writes during the widget polls, and the
// per-turn function after them. Its variables therefore need no lock.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "app/panel.h"
#include "base/clock.h"
#include "graphics/draw.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"

namespace {

bool heaterOn = false;
int32_t setPoint = 20;    // degrees to keep; the slider writes 0 to 39 into it
int32_t airTenths = 150;  // air temperature in tenths of a degree
int32_t shownAir = -1;    // what the reading shows (-1: nothing yet)
int32_t shownSetPoint = -1;

// Places on the 640 x 480 picture. y counts up from the bottom row; the (x, y)
// of a widget or a text is its lower-left corner. Laid out for a finger on a
// phone, either way round: every control is 72 pixels across its narrow side
// (44 CSS pixels on a phone held upright) and 40 pixels from the next.
constexpr int32_t kLeft = 20;
constexpr int32_t kTitleY = 440;
constexpr int32_t kButtonY = 340, kButtonWidth = 140, kButtonHeight = 72;
constexpr int32_t kOffX = 200;
constexpr int32_t kLampX = 400, kLampY = 376, kLampRadius = 20;
constexpr int32_t kSliderY = 228, kSliderWidth = 400, kSliderHeight = 72;
constexpr int kSetPointRange = 40;  // the pointer gives 0 to 39
constexpr int32_t kReadingY = 190;
constexpr int32_t kBarY = 150, kBarTop = 169, kBarWidth = 400;  // one column per tenth

void showHeater() {
  if (heaterOn) {
    circlefill(kLampX, kLampY, kLampRadius, 255, 96, 0);
  } else {
    circlefill(kLampX, kLampY, kLampRadius, 60, 60, 60);
  }
}

// The button actions: each runs when its button springs back.
void switchOn() {
  heaterOn = true;
  showHeater();
}

void switchOff() {
  heaterOn = false;
  showHeater();
}

// The outside air, from the clock: 8.0 to 16.0 degrees and back, a tenth a
// second.
int32_t outsideTenths() {
  const int32_t step = int32_t(monotonicMs() / 1000 % 160);
  return 80 + (step < 80 ? step : 160 - step);
}

// One turn of the greenhouse: the heater, while on and below the set point,
// warms the air 0.2 degrees; otherwise the air drifts 0.1 toward the outside.
void simulateTurn() {
  const int32_t outside = outsideTenths();
  if (heaterOn && airTenths < setPoint * 10) {
    airTenths += 2;
  } else if (airTenths < outside) {
    airTenths++;
  } else if (airTenths > outside) {
    airTenths--;
  }
}

void createGreenhouse() {
  textout("GREENHOUSE HEATER", kLeft, kTitleY, 255, 255, 255, 0, 0, 0, 255);
  buttonsINIT();
  buttonCREATE(kLeft, kButtonY, kButtonWidth, kButtonHeight, "heat on", 255, 160, 64, 0, 0, 0,
               switchOn);
  buttonCREATE(kOffX, kButtonY, kButtonWidth, kButtonHeight, "heat off", 160, 160, 160, 0, 0, 0,
               switchOff);
  showHeater();
  slidersINIT();
  sliderCREATE(kLeft, kSliderY, kSliderWidth, kSliderHeight, 0, kSetPointRange, &setPoint, 255, 255,
               255, 0, 128, 255);
}

// The reading drawn again only if it changed, so a quiet turn draws nothing.
void showReading() {
  if (airTenths == shownAir && setPoint == shownSetPoint) return;
  shownAir = airTenths;
  shownSetPoint = setPoint;

  char text[32];
  snprintf(text, sizeof text, "air %2d.%d C  set %2d C", int(airTenths / 10), int(airTenths % 10),
           int(setPoint));
  textout(text, kLeft, kReadingY, 255, 255, 255, 0, 0, 0, 255);  // its background covers the old
  // Two fills side by side: a picture taken between them shows the old bar or
  // the new one.
  const int32_t end = kLeft + std::clamp(airTenths, 1, kBarWidth - 1);
  rectanglefill(kLeft, kBarY, end - 1, kBarTop, 255, 160, 0);
  rectanglefill(end, kBarY, kLeft + kBarWidth - 1, kBarTop, 40, 40, 40);
}

// The per-turn function: one step of the simulation, then the reading.
void updateReading() {
  simulateTurn();
  showReading();
}

// The set point's slider moved: its readout follows at once.
void setPointMoved(int /*index*/) {
  showReading();
}

}  // namespace

const PanelApp panelApp = {createGreenhouse, updateReading, setPointMoved};
