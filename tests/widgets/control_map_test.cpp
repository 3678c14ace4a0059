// The control map: what it says of each widget, its escapes, its bound, and
// the version that moves only with its text.
#include "widgets/control_map.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "graphics/framebuffer.h"
#include "support/test_support.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"

namespace {

std::string encoded(size_t size = kControlMapSize) {
  std::vector<char> out(size, 'x');
  const int length = encodeControlMap(out.data(), out.size());
  return length < 0 ? "too long: " + std::string(out.data())
                    : std::string(out.data(), size_t(length));
}

class ControlMap : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    buttonsINIT();
    slidersINIT();
  }
  int32_t level = 7;
};

TEST_F(ControlMap, SaysWhatEachUsedRecordHoldsInTableOrder) {
  EXPECT_EQ(encoded(), R"({"buttons":[],"sliders":[]})");
  ASSERT_EQ(buttonCREATE(10, 20, 80, 30, "circle", 1, 1, 1, 0, 0, 0, nullptr), 0);
  ASSERT_EQ(buttonCREATE(-5, 0, 1, 2, "", 1, 1, 1, 0, 0, 0, nullptr), 0);
  ASSERT_EQ(sliderCREATE(500, 40, 30, 200, 0, 255, &level, 1, 1, 1, 1, 1, 1), 0);
  ASSERT_EQ(sliderCREATE(1, 2, 50, 50, -10, 10, &level, 1, 1, 1, 1, 1, 1),
            0);  // square: horizontal
  buttons.item[0].pressed = 255;
  sliders.item[0].used = 0;  // only used records, each with its own index
  EXPECT_EQ(
      encoded(),
      R"({"buttons":[{"index":0,"label":"circle","x":10,"y":20,"w":80,"h":30,"pressed":true},)"
      R"({"index":1,"label":"","x":-5,"y":0,"w":1,"h":2,"pressed":false}],)"
      R"("sliders":[{"index":1,"x":1,"y":2,"w":50,"h":50,"orientation":"horizontal",)"
      R"("min":-10,"max":10,"value":7}]})");
}

TEST_F(ControlMap, LabelsAreEscapedIntoValidUtf8) {
  ASSERT_EQ(buttonCREATE(0, 0, 9, 9, "a\"b\\c\n\x01\x7f\xe9~", 1, 1, 1, 0, 0, 0, nullptr), 0);
  const std::string map = encoded();
  EXPECT_NE(map.find(R"("label":"a\"b\\c\u000a\u0001\u007f\u00e9~")"), std::string::npos) << map;
}

// Full tables at their widest: every label byte escaped, every number at its
// longest. The bound is exact, the buffer holds it, and one byte less is
// refused whole.
TEST_F(ControlMap, TheWidestMapFitsAndAShortBufferIsRefused) {
  const std::string label(kButtonLabelSize - 1, '\x1f');
  for (int i = 0; i < kMaxButtons; ++i) {
    ASSERT_EQ(buttonCREATE(INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, label.c_str(), 1, 1, 1, 0, 0,
                           0, nullptr),
              0);  // raised: "false" is the longer word
  }
  int32_t lowest = -32768;
  for (int i = 0; i < kMaxSliders; ++i) {
    // Wider than high: horizontal, the longer word. Not drawn: off the picture.
    ASSERT_EQ(sliderCREATE(INT32_MIN, INT32_MIN, -1, -2, -32768, -32768, &lowest, 1, 1, 1, 1, 1, 1),
              0);
    sliders.item[i].w = INT32_MIN;
    sliders.item[i].h = INT32_MIN;
  }
  const std::string map = encoded();
  // The bound counts a comma after every record and two digits per index.
  EXPECT_EQ(map.size(), kControlMapMost - 2 - 10 - 10) << map.substr(0, 200);
  EXPECT_EQ(encoded(map.size() + 1), map);
  EXPECT_EQ(encoded(map.size()), "too long: ");
  EXPECT_EQ(encoded(1), "too long: ");
  EXPECT_EQ(encodeControlMap(nullptr, 10), kMapTooLong);
}

TEST_F(ControlMap, OnlyAChangedMapGetsANewVersionAndCopiesAreWhole) {
  publishControlMap();
  const uint32_t empty = controlMapVersion();
  EXPECT_FALSE(publishControlMap());
  ASSERT_EQ(sliderCREATE(10, 100, 20, 100, 0, 255, &level, 1, 1, 1, 1, 0, 0), 0);
  EXPECT_TRUE(publishControlMap());
  const uint32_t created = controlMapVersion();
  EXPECT_NE(created, empty);
  sliderCTRL(0, 0, 0);  // redraws everything, changes nothing
  EXPECT_FALSE(publishControlMap());
  level = 8;  // a value written by the panel itself
  EXPECT_TRUE(publishControlMap());
  EXPECT_NE(controlMapVersion(), created);

  char copy[kControlMapSize];
  uint32_t version = 0;
  const int length = copyControlMap(copy, sizeof copy, &version);
  EXPECT_EQ(std::string(copy, size_t(length)), encoded());
  EXPECT_EQ(version, controlMapVersion());
  uint32_t untouched = 99;
  EXPECT_EQ(copyControlMap(copy, size_t(length), &untouched), kMapTooLong);
  EXPECT_STREQ(copy, "");
  EXPECT_EQ(untouched, 99u);
}

}  // namespace
