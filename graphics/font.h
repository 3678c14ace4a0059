// Two built-in bitmap fonts (8 x 8 and 5 x 7), the current-font state and
// text drawing. The font state is frame-buffer state: guarded by BMPmutex, so
// a caller selects a font and draws with it in one locked stretch.
#pragma once

#include <cstdint>

constexpr int32_t kFont8x8 = 881;
constexpr int32_t kFont5x7 = 571;
constexpr int kTextMaxChars = 256;  // BMP_textout draws at most this many characters

// Glyph tables, generated from graphics/fonts/*.txt by tools/fontconv.
extern const uint8_t Font_8_8[256 * 8];  // top row first, bit 7 = leftmost column
extern const uint8_t Font_5_7[256 * 7];  // top row first, bit 0 = leftmost column

// Current font (zero before the first selection: nothing is drawn).
extern int32_t FontBits;  // glyph width and advance
extern int32_t FontByts;  // glyph height, bytes per glyph
extern int32_t FontNBit;  // spare high bits in every row byte
extern uint8_t FontLR;    // 255: first bit read is the leftmost column
extern const uint8_t* AddrFont;

// 255 when the code (881 or 571) is known, 0 otherwise (the font stays).
uint8_t BMP_SetFont(int32_t code);
// One glyph in the cell just above (x, y); background drawn when drawBack != 0.
void BMP_outchar(uint8_t code, int32_t x, int32_t y, uint8_t fr, uint8_t fg, uint8_t fb, uint8_t br,
                 uint8_t bg, uint8_t bb, uint8_t drawBack);
// A row of at most 256 glyphs from (x, y).
void BMP_textout(const char* text, int16_t x, int16_t y, uint8_t fr, uint8_t fg, uint8_t fb,
                 uint8_t br, uint8_t bg, uint8_t bb, uint8_t drawBack);
