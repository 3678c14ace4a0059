// The glyph tables: the committed tables are what the converter makes of the
// committed sources, they hold the required glyphs and blanks, and the
// converter refuses faulty sources.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/font.h"
#include "support/test_support.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Runs the converter; returns its status and what it printed on stderr.
int convert(const std::string& source, const std::string& table, std::string* errors) {
  const std::string errorPath = tempPath("fontconv.err");
  const int status = runCommand(
      std::string(PANEL_FONTCONV_BIN) + " '" + source + "' '" + table + "' 2>'" + errorPath + "'",
      nullptr);
  if (errors) *errors = readFile(errorPath);
  return status;
}

std::vector<uint8_t> glyph(const uint8_t* table, int height, int code) {
  return std::vector<uint8_t>(table + code * height, table + (code + 1) * height);
}

}  // namespace

TEST(FontTables, CommittedTablesAreTheConvertedSources) {
  for (const char* name : {"font_8x8", "font_5x7"}) {
    const std::string source = std::string(PANEL_SOURCE_DIR) + "/graphics/fonts/" + name + ".txt";
    const std::string committed =
        std::string(PANEL_SOURCE_DIR) + "/graphics/" + name + "_table.cpp";
    const std::string made = tempPath(std::string(name) + "_table.cpp");
    std::string errors;
    ASSERT_EQ(convert(source, made, &errors), 0) << errors;
    const std::string text = readFile(made);
    EXPECT_EQ(text, readFile(committed)) << name << ": run `make fonts`";
    // One line per glyph, each naming its code.
    size_t glyphLines = 0;
    for (size_t at = text.find("  // 0x"); at != std::string::npos;
         at = text.find("  // 0x", at + 1)) {
      glyphLines++;
    }
    EXPECT_EQ(glyphLines, 256u) << name;
  }
}

TEST(FontTables, RequiredGlyphsAreExact) {
  EXPECT_EQ(glyph(Font_8_8, 8, 'A'),
            (std::vector<uint8_t>{0x7C, 0x82, 0x82, 0xFE, 0x82, 0x82, 0x82, 0x00}));
  EXPECT_EQ(glyph(Font_8_8, 8, '0'),
            (std::vector<uint8_t>{0x7C, 0x86, 0x8A, 0x92, 0xA2, 0xC2, 0x7C, 0x00}));
  EXPECT_EQ(glyph(Font_5_7, 7, 'A'),
            (std::vector<uint8_t>{0x00, 0x04, 0x0A, 0x0A, 0x0E, 0x11, 0x11}));
  EXPECT_EQ(glyph(Font_5_7, 7, '0'),
            (std::vector<uint8_t>{0x00, 0x0E, 0x11, 0x11, 0x11, 0x11, 0x0E}));
}

TEST(FontTables, Font5x7LeavesTheSpareBitsClear) {
  for (int i = 0; i < 256 * 7; i++) EXPECT_EQ(Font_5_7[i] & 0xE0, 0) << "glyph " << i / 7;
}

TEST(FontConverter, WritesBitOrderOfEachFont) {
  const std::string source = tempPath("bits.txt");
  const std::string table = tempPath("bits.cpp");
  writeFile(source,
            "; corner pixels\nfont 5x7\n\nglyph 0x01 corners\n#....\n.....\n.....\n"
            ".....\n.....\n.....\n....#\n");
  ASSERT_EQ(convert(source, table, nullptr), 0);
  EXPECT_NE(readFile(table).find("0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,  // 0x01 corners"),
            std::string::npos);
  writeFile(source,
            "font 8x8\nglyph 0xff corners\n#.......\n........\n........\n........\n"
            "........\n........\n........\n.......#\n");
  ASSERT_EQ(convert(source, table, nullptr), 0);
  EXPECT_NE(readFile(table).find("0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,  // 0xFF"),
            std::string::npos);
}

TEST(FontConverter, FaultySourcesStopItWithoutOutput) {
  const std::string row8 = "........\n";
  std::string rows8;
  for (int i = 0; i < 8; i++) rows8 += row8;
  struct Case {
    const char* what;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"short row", "font 8x8\nglyph 0x41 A\n.......\n" + rows8, ":3: row has 7 columns"},
      {"long row", "font 8x8\nglyph 0x41 A\n" + row8 + "#########\n", ":4: row has 9 columns"},
      {"bad character", "font 8x8\nglyph 0x41 A\n" + row8 + "...o....\n", ":4: bad character 'o'"},
      {"listed twice", "font 8x8\nglyph 0x41 A\n" + rows8 + "glyph 0x41 A\n" + rows8,
       ":11: glyph 0x41 is listed twice"},
      {"code above 0xFF", "font 8x8\nglyph 0x100 big\n" + rows8, "above 0xFF"},
      {"bad code", "font 8x8\nglyph 41 A\n" + rows8, "bad glyph code"},
      {"too few rows", "font 8x8\nglyph 0x41 A\n" + row8 + "glyph 0x42 B\n" + rows8,
       ":2: glyph has 1 rows"},
      {"cut short", "font 8x8\nglyph 0x41 A\n" + row8, ":2: glyph has 1 rows"},
      {"unknown font", "font 9x9\n", "the first line must be"},
      {"no font line", "glyph 0x41 A\n" + rows8, "the first line must be"},
      {"empty", "; nothing\n", "no \"font\" line"},
      {"stray line", "font 8x8\n" + row8, "expected \"glyph 0xNN <name>\""},
  };
  for (const Case& c : cases) {
    const std::string source = tempPath("faulty.txt");
    const std::string table = tempPath("faulty.cpp");
    remove(table.c_str());
    writeFile(source, c.text);
    std::string errors;
    EXPECT_EQ(convert(source, table, &errors), 1) << c.what;
    EXPECT_NE(errors.find(c.message), std::string::npos) << c.what << ": " << errors;
    EXPECT_FALSE(std::ifstream(table).good()) << c.what;
  }
}
