// The control map: every button and slider the panel has, as one line of
// JSON for clients that place their own controls over the picture (a page
// for a finger, a screen reader or the keyboard):
//
//   {"buttons":[{"index":0,"label":"circle","x":10,"y":10,"w":80,"h":20,
//   "pressed":false}],"sliders":[{"index":0,"x":10,"y":100,"w":20,"h":100,
//   "orientation":"vertical","min":0,"max":255,"value":100}]}
//
// Coordinates are picture pixels as the widget records hold them (x from
// the left column, y from the bottom row); index is the record's place in
// its table; only used records, in table order. The control loop publishes
// the map after its polls, and only a map whose text changed gets a new
// version, so readers on other threads copy a consistent map and learn of
// a change by its version alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "widgets/buttons.h"
#include "widgets/sliders.h"

// The longest map: full tables, every label of 31 characters that each
// need the six-character escape, every number at its widest.
constexpr size_t kMapFrameText = sizeof R"({"buttons":[],"sliders":[]})" - 1;
constexpr size_t kMapButtonMost =
    sizeof R"({"index":99,"label":"","x":-2147483648,"y":-2147483648,"w":-2147483648,"h":-2147483648,"pressed":false},)" -
    1 + (kButtonLabelSize - 1) * 6;
constexpr size_t kMapSliderMost =
    sizeof R"({"index":99,"x":-2147483648,"y":-2147483648,"w":-2147483648,"h":-2147483648,"orientation":"horizontal","min":-32768,"max":-32768,"value":-32768},)" -
    1;
constexpr size_t kControlMapMost =
    kMapFrameText + kMaxButtons * kMapButtonMost + kMaxSliders * kMapSliderMost;
// Room for any map and its NUL.
constexpr size_t kControlMapSize = 16384;
static_assert(kControlMapMost < kControlMapSize, "every map fits the map buffers");
static_assert(kMaxButtons <= 100 && kMaxSliders <= 100, "an index has at most two digits");

// Result of encodeControlMap when the map does not fit `size`.
constexpr int kMapTooLong = -1;

// Writes the map of the widget tables as they are now into out (size bytes,
// NUL-terminated): its length, or kMapTooLong (out then holds ""). Label
// bytes are escaped as JSON needs: quote, backslash and control characters,
// and every byte from 127 up as \u00XX (the labels are drawn in the fonts'
// one-byte code, whose upper half is taken as Latin-1), so the text is
// always valid UTF-8. Reads the tables: call on the thread that writes them
// (the control loop's), or while none does.
int encodeControlMap(char* out, size_t size);

// Encodes the map and, when its text differs from the published one,
// publishes it with a new version; true when it did. One thread at a time
// (the control loop's). Before the first change the published map is the
// empty one, version 1.
bool publishControlMap();

// The published map's version: 1 and up, wrapping back to 1; never 0.
uint32_t controlMapVersion();

// Copies the published map into out (size bytes, NUL-terminated) and its
// version into *version, both of one publication: its length, or
// kMapTooLong when it does not fit (out then holds "", *version is left).
// Safe from any thread.
int copyControlMap(char* out, size_t size, uint32_t* version);

// The map being written: the kinds' describe functions (widgets/widget_kinds.h)
// append their records to it.
struct MapText;
void describeButtons(MapText& text);
void describeSliders(MapText& text);
