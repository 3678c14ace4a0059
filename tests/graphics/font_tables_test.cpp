// The glyph tables: the committed tables are what the converter makes of the
// committed sources, they hold the required glyphs and blanks, and the
// converter refuses faulty sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
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

// Inked exactly where the font has a glyph.
void expectInkedOutsideBlanks(const uint8_t* table, int height, bool (*blank)(int code)) {
  for (int code = 0; code < 256; code++) {
    const std::vector<uint8_t> rows = glyph(table, height, code);
    const bool inked = std::any_of(rows.begin(), rows.end(), [](uint8_t row) { return row != 0; });
    EXPECT_EQ(inked, !blank(code)) << "code " << code;
  }
}

// No two of the codes share a picture unless one is listed as a copy of the
// other (a Cyrillic letter and the Latin letter it looks like): a glyph drawn
// at the wrong code shows up here.
void expectToldApart(const uint8_t* table, int height, const std::vector<int>& codes,
                     const std::vector<std::pair<int, int>>& copies) {
  auto identity = [&](int code) {
    for (const auto& [copy, original] : copies) {
      if (copy == code) return original;
    }
    return code;
  };
  for (size_t i = 0; i < codes.size(); i++) {
    for (size_t j = i + 1; j < codes.size(); j++) {
      if (identity(codes[i]) == identity(codes[j])) continue;
      EXPECT_NE(glyph(table, height, codes[i]), glyph(table, height, codes[j]))
          << "codes " << codes[i] << " and " << codes[j];
    }
  }
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

TEST(FontTables, Font5x7InksEveryListedCodeAndNoOther) {
  expectInkedOutsideBlanks(Font_5_7, 7,
                           [](int code) { return code <= 0x20 || code == 0x5F || code == 0xA0; });
}

// Two letters or digits may look the same only when they are the same letter
// (Latin A and Cyrillic A, the digit zero and O).
TEST(FontTables, Font5x7LettersCanBeToldApart) {
  const std::vector<std::pair<int, int>> sameLetter = {
      {0xC0, 'A'}, {0xC2, 'B'}, {0xC5, 'E'}, {0xCA, 'K'}, {0xCC, 'M'}, {0xCD, 'H'}, {0xCE, 'O'},
      {0xD0, 'P'}, {0xD1, 'C'}, {0xD2, 'T'}, {0xD5, 'X'}, {0xE0, 'a'}, {0xE5, 'e'}, {0xEE, 'o'},
      {0xF0, 'p'}, {0xF1, 'c'}, {0xF3, 'y'}, {0xF5, 'x'}, {0xB2, 'I'}, {0xB3, 'i'}, {0xA3, 'J'},
      {0xBC, 'j'}, {0xBD, 'S'}, {0xBE, 's'}, {'0', 'O'}};
  // The letters among the punctuation of 0x80..0xBF.
  constexpr uint8_t kOtherLetters[] = {0x80, 0x81, 0x83, 0x8A, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x9A,
                                       0x9C, 0x9D, 0x9E, 0x9F, 0xA1, 0xA2, 0xA3, 0xA5, 0xA8, 0xAA,
                                       0xAF, 0xB2, 0xB3, 0xB4, 0xB8, 0xBA, 0xBC, 0xBD, 0xBE, 0xBF};
  std::vector<int> letters;
  for (int code = '0'; code <= '9'; code++) letters.push_back(code);
  for (int code = 'A'; code <= 'Z'; code++) letters.push_back(code);
  for (int code = 'a'; code <= 'z'; code++) letters.push_back(code);
  for (int code = 0xC0; code <= 0xFF; code++) letters.push_back(code);
  for (uint8_t code : kOtherLetters) letters.push_back(code);
  expectToldApart(Font_5_7, 7, letters, sameLetter);
}

TEST(FontTables, Font8x8InksEveryCodeButTheBlanks) {
  expectInkedOutsideBlanks(Font_8_8, 8,
                           [](int code) { return code == 0x00 || code == 0x20 || code == 0xFF; });
}

// Every glyph of the 8x8 font, symbols included, has its own picture but for
// the Cyrillic letters that look like Latin ones.
TEST(FontTables, Font8x8GlyphsCanBeToldApart) {
  const std::vector<std::pair<int, int>> sameLetter = {
      {0x80, 'A'}, {0x82, 'B'}, {0x85, 'E'}, {0x8A, 'K'}, {0x8C, 'M'}, {0x8D, 'H'},
      {0x8E, 'O'}, {0x90, 'P'}, {0x91, 'C'}, {0x92, 'T'}, {0x95, 'X'}, {0xA0, 'a'},
      {0xA5, 'e'}, {0xAE, 'o'}, {0xE0, 'p'}, {0xE1, 'c'}, {0xE3, 'y'}, {0xE5, 'x'}};
  std::vector<int> glyphs;
  for (int code = 0x01; code < 0xFF; code++) {
    if (code != 0x20) glyphs.push_back(code);
  }
  expectToldApart(Font_8_8, 8, glyphs, sameLetter);
}

// Letters and signs leave the bottom row and the right column blank so that
// text is spaced; the shading, box and block characters fill the cell to join,
// as do the inverse bullet and circle, the low line and the integral halves.
// The lower-case letters with descenders are the only others to ink the bottom
// row, and they do: a tail squeezed above it makes "q" read as "9".
TEST(FontTables, Font8x8KeepsItsSpacingOutsideTheJoiningCharacters) {
  // g j p q y, and Cyrillic de, er, u, tse, shcha.
  constexpr int kDescenders[] = {'g', 'j', 'p', 'q', 'y', 0xA4, 0xE0, 0xE3, 0xE6, 0xE9};
  for (int code = 0; code < 256; code++) {
    const bool joins = (code >= 0xB0 && code <= 0xDF) || code == 0x08 || code == 0x0A ||
                       code == 0x5F || code == 0xF4 || code == 0xF5;
    if (joins) continue;
    const std::vector<uint8_t> rows = glyph(Font_8_8, 8, code);
    const bool descends = std::count(std::begin(kDescenders), std::end(kDescenders), code) != 0;
    EXPECT_EQ(rows[7] != 0, descends) << "code " << code;
    for (uint8_t row : rows) EXPECT_EQ(row & 0x01, 0) << "code " << code;
  }
}
