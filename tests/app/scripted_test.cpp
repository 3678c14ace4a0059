// Finding a script's control in the control map's text, and reading a
// slider value: labels with escapes, braces and quotes inside them, the
// first of two equal labels, and values at and past the ends.
#include "app/scripted.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TextSpan span(const std::string& text) {
  return {text.data(), int(text.size())};
}

}  // namespace

TEST(Scripted, ButtonsAreFoundByTheirUnescapedLabel) {
  const std::string map =
      R"({"buttons":[{"index":0,"label":"a}\"{b","x":1,"y":2,"w":3,"h":4,"pressed":false},)"
      R"({"index":1,"label":"caf\u00e9 \\ ok","x":5,"y":6,"w":7,"h":8,"pressed":true},)"
      R"({"index":2,"label":"twin","x":9,"y":10,"w":11,"h":12,"pressed":false},)"
      R"({"index":3,"label":"twin","x":13,"y":14,"w":15,"h":16,"pressed":false}],)"
      R"("sliders":[{"index":0,"x":-5,"y":100,"w":20,"h":100,"orientation":"vertical",)"
      R"("min":-10,"max":300,"value":4}]})";
  struct Case {
    std::string label;
    int index;  // -1: not found
    int32_t x;
  };
  const Case cases[] = {
      {"a}\"{b", 0, 1}, {"caf\xE9 \\ ok", 1, 5},
      {"twin", 2, 9},   {"twi", -1, 0},
      {"twinx", -1, 0}, {"", -1, 0},
      {"x", -1, 0},     {"caf\xC3\xA9 \\ ok", -1, 0},
  };
  for (const Case& c : cases) {
    MapControl found;
    const bool got = findMapButton(map.c_str(), c.label.data(), int(c.label.size()), &found);
    EXPECT_EQ(got, c.index >= 0) << c.label;
    if (!got) continue;
    EXPECT_EQ(found.index, c.index) << c.label;
    EXPECT_EQ(found.x, c.x) << c.label;
  }
  MapControl slider;
  ASSERT_TRUE(findMapSlider(map.c_str(), 0, &slider));
  EXPECT_EQ(slider.x, -5);
  EXPECT_EQ(slider.min, -10);
  EXPECT_EQ(slider.max, 300);
  EXPECT_FALSE(findMapSlider(map.c_str(), 1, &slider));
  EXPECT_FALSE(findMapButton(R"({"buttons":[{"index":0,"label":"cut)", "cut", 3, &slider));
}

TEST(Scripted, SliderValuesAreDigitsInsideTheRange) {
  struct Case {
    const char* text;
    bool taken;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},    {"255", true, 255}, {"-10", true, -10}, {"256", false, 0},
      {"-11", false, 0}, {"", false, 0},     {"-", false, 0},    {"1.5", false, 0},
      {"+3", false, 0},  {"0x10", false, 0}, {"007", true, 7},   {"9999999", false, 0},
      {" 5", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = -99;
    EXPECT_EQ(sliderValueOf(span(c.text), -10, 255, &value), c.taken) << c.text;
    if (c.taken) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  int32_t value = 0;
  EXPECT_TRUE(sliderValueOf(span("50"), 100, 0, &value)) << "a range given either way round";
}
