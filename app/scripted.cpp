// Scripted presses and slider moves. A press is handed to the pointer parser
// as a finger's tap at the button's middle, so viewers and the panel see
// nothing else; the answer waits until that button has sprung back. A slider
// move is handed to the control loop, which sets the value in its next poll
// and tells the panel as for a drag. One scripted action at a time.
#include "app/scripted.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app/control_loop.h"
#include "base/clock.h"
#include "server/records.h"
#include "widgets/buttons.h"
#include "widgets/control_map.h"
#include "widgets/sliders.h"

namespace {

constexpr useconds_t kWaitStepMicros = 5000;

std::mutex scriptTurn;          // one scripted action at a time
char mapCopy[kControlMapSize];  // guarded by scriptTurn

// The end of the JSON string whose opening quote is at `at`: the index of
// its closing quote, or -1.
int stringEnd(const char* text, int at) {
  for (int i = at + 1; text[i] != '\0'; ++i) {
    if (text[i] == '\\') {
      if (text[++i] == '\0') return -1;
    } else if (text[i] == '"') {
      return i;
    }
  }
  return -1;
}

// The object starting at `at` ('{'): the index just past its '}', or -1.
int objectEnd(const char* text, int at) {
  int depth = 0;
  for (int i = at; text[i] != '\0'; ++i) {
    if (text[i] == '"') {
      i = stringEnd(text, i);
      if (i < 0) return -1;
    } else if (text[i] == '{') {
      ++depth;
    } else if (text[i] == '}' && --depth == 0) {
      return i + 1;
    }
  }
  return -1;
}

// The number after "<key>": in the entry (the map's keys are never inside
// a string past the label), or `fallback`.
int32_t numberAfter(const char* entry, int length, const char* key, int32_t fallback) {
  char pattern[24];
  const int patternLength = snprintf(pattern, sizeof pattern, "\"%s\":", key);
  const void* at = memmem(entry, size_t(length), pattern, size_t(patternLength));
  if (at == nullptr) return fallback;
  return int32_t(strtol(static_cast<const char*>(at) + patternLength, nullptr, 10));
}

// True when the JSON string between the quotes at `from` and `to` unescapes
// to exactly the `length` bytes of `label`. The map escapes a quote, a
// backslash and every control byte or byte from 127 up as \u00XX.
bool labelIs(const char* text, int from, int to, const char* label, int length) {
  int matched = 0;
  for (int i = from + 1; i < to; ++i) {
    int byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\') {
      const char kind = text[++i];
      if (kind == 'u') {
        if (i + 4 >= to) return false;
        byte = 0;
        for (int k = 1; k <= 4; ++k) {
          const int digit = hexDigitValue(text[i + k]);
          if (digit < 0) return false;
          byte = byte * 16 + digit;
        }
        i += 4;
      } else {
        byte = kind == 'n'   ? '\n'
               : kind == 't' ? '\t'
               : kind == 'r' ? '\r'
                             : static_cast<unsigned char>(kind);
      }
    }
    if (matched >= length || static_cast<unsigned char>(label[matched]) != byte) return false;
    ++matched;
  }
  return matched == length;
}

// Walks the entries of the map's array `name`, calling `take` with each;
// stops when it returns true, and returns that.
template <typename Take>
bool eachEntry(const char* map, const char* name, Take take) {
  char key[16];
  snprintf(key, sizeof key, "\"%s\":[", name);
  const char* array = strstr(map, key);
  if (array == nullptr) return false;
  int at = int(array - map) + int(strlen(key));
  while (map[at] == '{') {
    const int end = objectEnd(map, at);
    if (end < 0) return false;
    if (take(map + at, end - at)) return true;
    at = map[end] == ',' ? end + 1 : end;
  }
  return false;
}

void fillPlace(const char* entry, int length, MapControl* found) {
  found->index = numberAfter(entry, length, "index", -1);
  found->x = numberAfter(entry, length, "x", 0);
  found->y = numberAfter(entry, length, "y", 0);
  found->w = numberAfter(entry, length, "w", 0);
  found->h = numberAfter(entry, length, "h", 0);
  found->entry = entry;
  found->entryLength = length;
}

bool waitUntil(bool (*done)(uint32_t), uint32_t since) {
  for (const int64_t until = monotonicMs() + kScriptWaitMs; !done(since);) {
    if (monotonicMs() >= until) return false;
    usleep(kWaitStepMicros);
  }
  return true;
}

constexpr int kEntryMost = 512;  // longer than any one control's object in the map
static_assert(kEntryMost > int(kMapButtonMost) && kEntryMost > int(kMapSliderMost));

void writeEntry(char* out, int size, const MapControl& control) {
  snprintf(out, size_t(size), "%.*s", control.entryLength, control.entry);
}

bool isPressed(const MapControl& button) {
  constexpr char kPressed[] = "\"pressed\":true";
  return memmem(button.entry, size_t(button.entryLength), kPressed, sizeof kPressed - 1) != nullptr;
}

// The button whose press is waited for, and how many springs back mean done.
int pressedIndex = 0;
uint32_t pressNeeds = 1;

bool pressDone(uint32_t before) {
  return buttonsSprungBack[pressedIndex].load(std::memory_order_acquire) - before >= pressNeeds;
}

bool sliderDone(uint32_t before) {
  return sliderScriptsApplied() != before;
}

int press(const char* label, int length, char* out, int size) {
  std::lock_guard<std::mutex> turn(scriptTurn);
  uint32_t version = 0;
  MapControl button;
  if (copyControlMap(mapCopy, sizeof mapCopy, &version) < 0 ||
      !findMapButton(mapCopy, label, length, &button) || button.index < 0 ||
      button.index >= kMaxButtons) {
    return 404;
  }
  const PayloadReceiver receive = payloadReceiver.load();
  if (receive == nullptr) return 503;
  // A button still pressed springs back once more before this press shows.
  pressedIndex = button.index;
  pressNeeds = isPressed(button) ? 2 : 1;
  const uint32_t before = buttonsSprungBack[pressedIndex].load(std::memory_order_acquire);
  char report[64];
  const int reportLength =
      snprintf(report, sizeof report, "mouse_X: %d\r\nmouse_Y: %d\r\n",
               int(int64_t(button.x) + button.w / 2), int(int64_t(button.y) + button.h / 2));
  receive(report, reportLength);
  if (!waitUntil(pressDone, before)) return 503;
  // The map is published right after the poll that raised the button: the
  // answer is the button as that map shows it.
  char entry[kEntryMost];
  writeEntry(entry, int(sizeof entry), button);
  for (const int64_t until = monotonicMs() + kScriptWaitMs;; usleep(kWaitStepMicros)) {
    MapControl after;
    if (copyControlMap(mapCopy, sizeof mapCopy, &version) < 0 ||
        !findMapButton(mapCopy, label, length, &after)) {
      break;
    }
    writeEntry(entry, int(sizeof entry), after);
    if (!isPressed(after) || monotonicMs() >= until) break;
  }
  snprintf(out, size_t(size), "%s", entry);
  return 200;
}

int moveSlider(int index, TextSpan value, char* out, int size) {
  std::lock_guard<std::mutex> turn(scriptTurn);
  uint32_t version = 0;
  MapControl slider;
  if (copyControlMap(mapCopy, sizeof mapCopy, &version) < 0 ||
      !findMapSlider(mapCopy, index, &slider)) {
    return 404;
  }
  int32_t wanted = 0;
  if (!sliderValueOf(value, slider.min, slider.max, &wanted)) return 400;
  const uint32_t before = sliderScriptsApplied();
  sliderScript(index, int16_t(wanted));
  wakeControlLoop();
  if (!waitUntil(sliderDone, before)) return 503;
  snprintf(out, size_t(size), "{\"index\":%d,\"value\":%d}", index, int(wanted));
  return 200;
}

}  // namespace

bool findMapButton(const char* map, const char* label, int length, MapControl* found) {
  return eachEntry(map, "buttons", [&](const char* entry, int entryLength) {
    const char* key =
        static_cast<const char*>(memmem(entry, size_t(entryLength), "\"label\":\"", 9));
    if (key == nullptr) return false;
    const int from = int(key - entry) + 8;
    const int to = stringEnd(entry, from);
    if (to < 0 || to >= entryLength || !labelIs(entry, from, to, label, length)) return false;
    fillPlace(entry, entryLength, found);
    return true;
  });
}

bool findMapSlider(const char* map, int index, MapControl* found) {
  return eachEntry(map, "sliders", [&](const char* entry, int entryLength) {
    if (numberAfter(entry, entryLength, "index", -1) != index) return false;
    fillPlace(entry, entryLength, found);
    found->min = numberAfter(entry, entryLength, "min", 0);
    found->max = numberAfter(entry, entryLength, "max", 0);
    return true;
  });
}

bool sliderValueOf(TextSpan value, int32_t min, int32_t max, int32_t* out) {
  constexpr int kDigitsMost = 6;
  int at = 0;
  const bool negative = value.length > 0 && value.text[0] == '-';
  if (negative) at = 1;
  const int digits = value.length - at;
  if (digits < 1 || digits > kDigitsMost) return false;
  int32_t number = 0;
  for (; at < value.length; ++at) {
    if (value.text[at] < '0' || value.text[at] > '9') return false;
    number = number * 10 + (value.text[at] - '0');
  }
  if (negative) number = -number;
  if (number < std::min(min, max) || number > std::max(min, max)) return false;
  *out = number;
  return true;
}

const ScriptActions kPanelScriptActions = {press, moveSlider};
