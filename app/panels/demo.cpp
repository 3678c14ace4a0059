// The demonstration panel: a row of six buttons that draw a shape in the
// middle of the picture, and three vertical sliders that set the red, green
// and blue components of the colour the shapes are drawn in. The default
// panel of the server.
#include <cstdint>
#include <cstdio>

#include "app/panel.h"
#include "graphics/draw.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"

namespace {

// The buttons' actions.
void test1();  // circle outline
void test2();  // disc
void test3();  // rectangle outline
void test4();  // filled rectangle
void test5();  // triangle
void test8();  // clear the drawing area

// The button row: 80 pixels wide with 10-pixel gaps along y = 10.
constexpr int32_t kButtonY = 10;
constexpr int32_t kButtonWidth = 80;
constexpr int32_t kButtonHeight = 20;

struct ButtonPlan {
  int32_t x;
  const char* label;
  uint8_t faceR, faceG, faceB;
  void (*action)();
};

constexpr ButtonPlan kButtons[] = {
    {10, "circle", 255, 127, 127, test1}, {100, "circlef", 127, 255, 127, test2},
    {190, "rect", 127, 127, 255, test3},  {280, "reectf", 192, 192, 192, test4},
    {370, "triangle", 192, 0, 0, test5},  {460, "clear", 255, 255, 255, test8},
};

// The three colour sliders stand side by side, 25 pixels apart.
constexpr int32_t kSliderY = 100;
constexpr int32_t kSliderWidth = 20;
constexpr int32_t kSliderHeight = 100;
constexpr int kSliderMin = 0;
constexpr int kSliderMax = 255;

struct SliderPlan {
  int32_t x;
  int32_t* component;
  uint8_t trackR, trackG, trackB;
};

constexpr SliderPlan kSliders[] = {
    {10, &R, 255, 0, 0},
    {35, &G, 0, 255, 0},
    {60, &B, 0, 0, 255},
};

// The drawing area in the middle of the picture, and the shapes in it.
constexpr int32_t kCentreX = 320, kCentreY = 240, kRadius = 50;
constexpr int32_t kRectX1 = 200, kRectY1 = 240, kRectX2 = 450, kRectY2 = 400;
constexpr int32_t kAreaLeft = 10, kAreaRight = 630, kAreaTop = 470, kAreaBottom = 140;

// The colour components are drawn with their low bytes.
uint8_t red() {
  return uint8_t(R);
}
uint8_t green() {
  return uint8_t(G);
}
uint8_t blue() {
  return uint8_t(B);
}

// Buttons, "cnt buttons", sliders, "cnt sliders".
void panelCREATE() {
  buttonsINIT();
  for (const ButtonPlan& plan : kButtons) {
    buttonCREATE(plan.x, kButtonY, kButtonWidth, kButtonHeight, plan.label, plan.faceR, plan.faceG,
                 plan.faceB, 0, 0, 0, plan.action);
  }
  printf("cnt buttons = %i\n", buttons.count);

  slidersINIT();
  for (const SliderPlan& plan : kSliders) {
    sliderCREATE(plan.x, kSliderY, kSliderWidth, kSliderHeight, kSliderMin, kSliderMax,
                 plan.component, 255, 255, 255, plan.trackR, plan.trackG, plan.trackB);
  }
  printf("cnt sliders = %i\n", sliders.count);
}

void test1() {
  circle(kCentreX, kCentreY, kRadius, red(), green(), blue());
}

void test2() {
  circlefill(kCentreX, kCentreY, kRadius, red(), green(), blue());
}

void test3() {
  rectangle(kRectX1, kRectY1, kRectX2, kRectY2, red(), green(), blue());
}

void test4() {
  rectanglefill(kRectX1, kRectY1, kRectX2, kRectY2, red(), green(), blue());
}

void test5() {
  triangle(kAreaLeft, kAreaTop, kAreaRight, kAreaTop, kCentreX, kAreaBottom, red(), green(),
           blue());
}

void test8() {
  rectanglefill(kAreaLeft, kAreaTop, kAreaRight, kAreaBottom, 0, 0, 0);
}

}  // namespace

const PanelApp panelApp = {panelCREATE, nullptr, nullptr};
