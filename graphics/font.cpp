// The current font and text drawing: font selection, one glyph drawn pixel by
// pixel through the clipped pixel primitive (its cell noted as written once),
// and a row of glyphs. The glyph
// tables themselves are generated data (graphics/font_*_table.cpp).
#include "graphics/font.h"

#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"

int32_t FontBits;
int32_t FontByts;
int32_t FontNBit;
uint8_t FontLR;
const uint8_t* AddrFont;

namespace {

struct FontState {
  int32_t code;
  int32_t bits;
  int32_t byts;
  int32_t nbit;
  uint8_t lr;
  const uint8_t* table;
};

constexpr FontState kFonts[] = {
    {kFont8x8, 8, 8, 0, 255, Font_8_8},
    {kFont5x7, 5, 7, 3, 0, Font_5_7},
};

}  // namespace

uint8_t BMP_SetFont(int32_t code) {
  for (const FontState& font : kFonts) {
    if (font.code != code) continue;
    FontBits = font.bits;
    FontByts = font.byts;
    FontNBit = font.nbit;
    FontLR = font.lr;
    AddrFont = font.table;
    return 255;
  }
  return 0;
}

void BMP_outchar(uint8_t code, int32_t x, int32_t y, uint8_t fr, uint8_t fg, uint8_t fb, uint8_t br,
                 uint8_t bg, uint8_t bb, uint8_t drawBack) {
  if (!AddrFont) return;
  // Positions are worked out in 64 bits: a glyph near the 32-bit edge is
  // clipped, not wrapped.
  const int64_t left = FontLR ? int64_t(x) : int64_t(x) + 1;
  clipNoteBox(left, int64_t(y) + 1, left + FontBits, int64_t(y) + FontByts + 1);
  for (int32_t i = 0; i < FontByts; i++) {
    uint8_t row = uint8_t(AddrFont[code * FontByts + i] << FontNBit);
    const int64_t ty = int64_t(y) + FontByts - i;
    for (int32_t j = 0; j < FontBits; j++) {
      const int64_t tx = FontLR ? int64_t(x) + j : int64_t(x) + FontBits - j;
      if (row & 0x80) {
        bmpPutPixel(tx, ty, fr, fg, fb);
      } else if (drawBack) {
        bmpPutPixel(tx, ty, br, bg, bb);
      }
      row = uint8_t(row << 1);
    }
  }
}

void BMP_textout(const char* text, int16_t x, int16_t y, uint8_t fr, uint8_t fg, uint8_t fb,
                 uint8_t br, uint8_t bg, uint8_t bb, uint8_t drawBack) {
  if (!text) return;
  for (int32_t i = 0; i < kTextMaxChars && text[i] != 0; i++) {
    BMP_outchar(uint8_t(text[i]), x + i * FontBits, y, fr, fg, fb, br, bg, bb, drawBack);
  }
}
