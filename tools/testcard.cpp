// Draws a test card to check the drawing library by eye: every glyph of both
// fonts in labelled 16 x 16 grids and a sample of every shape, on a 640 x 480,
// 24-bit picture. Writes the BMP file image and a PNG at twice the size.
//   testcard <out.bmp> <out.png>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "graphics/shapes.h"
#include "tools/peer/bmp_writer.h"
#include "tools/peer/tool_usage.h"
#include "tools/png_writer.h"

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr uint32_t kPngScale = 2;

struct Colour {
  uint8_t r, g, b;
};
constexpr Colour kBackground = {24, 26, 34};
constexpr Colour kInk = {255, 255, 255};
constexpr Colour kCell = {40, 60, 110};
constexpr Colour kLabel = {250, 200, 80};

void label(const char* text, int32_t x, int32_t y, int32_t font) {
  BMP_SetFont(font);
  BMP_textout(text, int16_t(x), int16_t(y), kLabel.r, kLabel.g, kLabel.b, 0, 0, 0, 0);
}

// A 16 x 16 grid of every code of the font, each glyph on its own cell
// colour so blank glyphs and glyph extents show; hex labels on both edges.
void glyphGrid(int32_t font, const char* title, int32_t left, int32_t top, int32_t pitchX,
               int32_t pitchY) {
  constexpr char kHex[] = "0123456789ABCDEF";
  label(title, left - 24, top + 14, kFont8x8);
  for (int32_t column = 0; column < 16; column++) {
    const char digit[2] = {kHex[column], 0};
    label(digit, left + column * pitchX, top, kFont8x8);
  }
  for (int32_t row = 0; row < 16; row++) {
    const int32_t y = top - (row + 1) * pitchY;
    const char rowLabel[3] = {kHex[row], '_', 0};
    label(rowLabel, left - 24, y, kFont8x8);
    BMP_SetFont(font);
    for (int32_t column = 0; column < 16; column++) {
      BMP_outchar(uint8_t(row * 16 + column), left + column * pitchX, y, kInk.r, kInk.g, kInk.b,
                  kCell.r, kCell.g, kCell.b, 255);
    }
  }
}

void shapeSamples() {
  // Lines: a fan of Bresenham lines, and a line drawn both ways in two colours.
  for (int32_t i = 0; i < 24; i++) {
    static const int32_t kEnds[24][2] = {
        {50, 0},    {48, 13},   {43, 25},  {35, 35},  {25, 43},  {13, 48},   {0, 50},    {-13, 48},
        {-25, 43},  {-35, 35},  {-43, 25}, {-48, 13}, {-50, 0},  {-48, -13}, {-43, -25}, {-35, -35},
        {-25, -43}, {-13, -48}, {0, -50},  {13, -48}, {25, -43}, {35, -35},  {43, -25},  {48, -13}};
    BMP_Line(60, 150, 60 + kEnds[i][0], 150 + kEnds[i][1], 120, 220, 255);
  }
  BMP_Line(20, 40, 100, 70, 255, 80, 80);
  BMP_Line(100, 72, 20, 42, 80, 255, 80);
  label("lines", 40, 20, kFont5x7);

  // Circle outlines, radius 0 to 45.
  for (int32_t radius = 0; radius <= 45; radius += 5) BMP_Circle(170, 150, radius, 255, 220, 120);
  label("circles", 150, 90, kFont5x7);

  // Discs: plain, ragged, and one cut at the left edge of a narrowed clip.
  BMP_Circlefill(270, 150, 40, 80, 200, 120);
  BMP_Circlefill_fuzzy(370, 150, 40, 200, 120, 220, 1);
  label("disc", 260, 90, kFont5x7);
  label("ragged", 355, 90, kFont5x7);

  // Rectangles: outline, filled, colour exchange over half of a filled one.
  BMP_rect(430, 110, 490, 190, 255, 255, 255);
  BMP_rect(440, 120, 480, 180, 255, 120, 60);
  BMP_rect_filled(510, 110, 560, 190, 60, 140, 255);
  BMP_rectXchange(535, 100, 600, 150, 255, 255, 0, 60, 140, 255);
  label("rect", 445, 90, kFont5x7);
  label("fill+xchg", 510, 90, kFont5x7);

  // Triangle, the clipped filled rectangle cut by the picture corner, runs.
  BMP_triangle(150, 20, 250, 30, 190, 75, 255, 255, 255);
  label("triangle", 170, 5, kFont5x7);
  BMP_RectFilledPX(-20, -20, 15, 15, 255, 90, 90);
  BMP_hline(300, 40, 400, 120, 255, 120);  // runs into the right edge
  BMP_vline(620, 10, 100, 120, 255, 120);
  BMP_HLinePX(-10, 50, 300, 255, 255, 120);
  label("runs to the edges", 300, 25, kFont5x7);

  // Text in both fonts, with and without background.
  BMP_SetFont(kFont8x8);
  BMP_textout("8x8: The quick brown fox 0123", 290, 60, 255, 255, 255, 90, 40, 40, 255);
  BMP_SetFont(kFont5x7);
  BMP_textout("5x7: jumps over the lazy dog 0123", 290, 75, 255, 255, 255, 0, 0, 0, 0);
}

// The picture as PNG rows: top row first (the last stored row of a
// bottom-up image), red first, each pixel repeated scale times both ways.
std::vector<uint8_t> scaledRgb(uint32_t scale) {
  std::vector<uint8_t> rgb;
  rgb.reserve(size_t(kWidth) * kHeight * 3 * scale * scale);
  for (int32_t y = kHeight - 1; y >= 0; y--) {
    std::vector<uint8_t> row;
    for (int32_t x = 0; x < kWidth; x++) {
      uint8_t r = 0, g = 0, b = 0;
      BMP_GetPixel(x, y, &r, &g, &b);
      for (uint32_t k = 0; k < scale; k++) row.insert(row.end(), {r, g, b});
    }
    for (uint32_t k = 0; k < scale; k++) rgb.insert(rgb.end(), row.begin(), row.end());
  }
  return rgb;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: testcard <out.bmp> <out.png>\n"
      "Draws every glyph of both fonts and a sample of every shape on a 640 x 480\n"
      "picture, and writes it as BMP and as PNG at twice the size.\n";
  if (answeredHelp(argc, argv, kUsage)) return 0;
  if (argc != 3 || anyOption(argc, argv)) {
    fputs(kUsage, stderr);
    return 2;
  }
  const std::string bmpPath = argv[1];
  BmpLayout layout;
  layout.width = kWidth;
  layout.height = kHeight;
  if (!writeBytes(bmpPath, makeBmp(layout)) || dumpBMPinit(bmpPath.c_str()) != kLoadOk) {
    fprintf(stderr, "testcard: cannot make a picture at %s\n", argv[1]);
    return 1;
  }
  BMP_rect_filled(0, 0, kWidth - 1, kHeight - 1, kBackground.r, kBackground.g, kBackground.b);
  glyphGrid(kFont8x8, "8x8 font, code page 866", 32, 448, 12, 12);
  glyphGrid(kFont5x7, "5x7 font, code page 1251", 360, 448, 10, 11);
  shapeSamples();

  const std::vector<uint8_t> image(BMP_DUMP, BMP_DUMP + bmpFileSize());
  if (!writeBytes(bmpPath, image) ||
      !writePng(argv[2], kWidth * kPngScale, kHeight * kPngScale, scaledRgb(kPngScale))) {
    fprintf(stderr, "testcard: cannot write %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  printf("testcard: wrote %s and %s\n", argv[1], argv[2]);
  return 0;
}
