// Fuzzes the control map's encoder with tables of any content, labels
// without their zero byte included: the map always fits its bound and its
// buffer, is printable ASCII (every other byte escaped) with balanced
// brackets outside strings, and a buffer one byte short is refused whole.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "widgets/buttons.h"
#include "widgets/control_map.h"
#include "widgets/sliders.h"

namespace {

int32_t bound[kMaxSliders];
char map[kControlMapSize];
char shorter[kControlMapSize];

// Takes the next bytes of the input into out, zeros once it runs out.
void take(const uint8_t*& data, size_t& size, void* out, size_t length) {
  const size_t n = length < size ? length : size;
  memset(out, 0, length);
  memcpy(out, data, n);
  data += n;
  size -= n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  memset(&buttons, 0, sizeof buttons);
  memset(&sliders, 0, sizeof sliders);
  for (buttonrec& b : buttons.item) {
    take(data, size, &b.used, 1);
    if (b.used == 0) continue;
    take(data, size, &b.x, 16);  // x, y, w, h
    take(data, size, b.label, sizeof b.label);
    take(data, size, &b.pressed, 1);
  }
  for (int i = 0; i < kMaxSliders; ++i) {
    sliderrec& s = sliders.item[i];
    take(data, size, &s.used, 1);
    if (s.used == 0) continue;
    take(data, size, &s.x, 16);
    take(data, size, &s.vertical, 1);
    take(data, size, &s.min, 2);
    take(data, size, &s.max, 2);
    take(data, size, &bound[i], 4);
    s.boundVar = &bound[i];
  }
  const int length = encodeControlMap(map, sizeof map);
  if (length <= 0 || size_t(length) > kControlMapMost || map[length] != '\0') abort();
  int depth = 0;
  bool quoted = false;
  for (int i = 0; i < length; ++i) {
    const char c = map[i];
    if (c < 0x20 || c > 0x7e) abort();
    if (quoted && c == '\\') {
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == '{' || c == '[')) {
      ++depth;
    } else if (!quoted && (c == '}' || c == ']')) {
      if (--depth < 0) abort();
    }
  }
  if (quoted || depth != 0) abort();
  if (encodeControlMap(shorter, size_t(length)) != kMapTooLong || shorter[0] != '\0') abort();
  return 0;
}
