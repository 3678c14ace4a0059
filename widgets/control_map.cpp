// The control map's encoder and its one published copy.
//
// The encoder writes into a fixed buffer and checks every append against
// its end; a map that does not fit gives kMapTooLong, never a cut text. The
// published copy is guarded by a small lock: the control loop holds it only
// to copy a changed map in, a reader only to copy it out.
#include "widgets/control_map.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "widgets/widget_kinds.h"

struct MapText {
  char* out;
  size_t size;
  size_t at;
  bool full;

  void put(const char* text, size_t length) {
    if (full || length >= size - at) {
      full = true;
      return;
    }
    memcpy(out + at, text, length);
    at += length;
  }
  void put(const char* text) { put(text, strlen(text)); }
  // ,"name":value
  void number(const char* name, int64_t value) {
    char field[48];
    const int length = snprintf(field, sizeof field, ",\"%s\":%" PRId64, name, value);
    put(field, size_t(length));
  }
  void label(const char* text, size_t most) {
    put("\"");
    for (size_t i = 0; i < most && text[i] != '\0'; ++i) {
      const auto byte = uint8_t(text[i]);
      char escaped[8];
      if (byte == '"' || byte == '\\') {
        const char pair[2] = {'\\', char(byte)};
        put(pair, 2);
      } else if (byte < 0x20 || byte >= 0x7F) {
        snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(byte));
        put(escaped, 6);
      } else {
        put(text + i, 1);
      }
    }
    put("\"");
  }
};

namespace {

constexpr char kEmptyMap[] = R"({"buttons":[],"sliders":[]})";

// The published map, guarded by mapLock; its version also readable alone.
std::mutex mapLock;
char published[kControlMapSize] = R"({"buttons":[],"sliders":[]})";
size_t publishedLength = sizeof kEmptyMap - 1;
std::atomic<uint32_t> publishedVersion{1};
// The control loop's fresh encoding, compared with the published map.
char fresh[kControlMapSize];

// Starts a record: a comma before every one but the first, then its index.
void beginRecord(MapText& text, bool& first, int index) {
  text.put(first ? "{" : ",{");
  first = false;
  char field[24];
  const int length = snprintf(field, sizeof field, "\"index\":%d", index);
  text.put(field, size_t(length));
}

}  // namespace

void describeButtons(MapText& text) {
  bool first = true;
  for (int i = 0; i < kMaxButtons; ++i) {
    const buttonrec& b = buttons.item[i];
    if (b.used == 0) continue;
    beginRecord(text, first, i);
    text.put(",\"label\":");
    text.label(b.label, sizeof b.label);
    text.number("x", b.x);
    text.number("y", b.y);
    text.number("w", b.w);
    text.number("h", b.h);
    text.put(b.pressed != 0 ? ",\"pressed\":true}" : ",\"pressed\":false}");
  }
}

void describeSliders(MapText& text) {
  bool first = true;
  for (int i = 0; i < kMaxSliders; ++i) {
    const sliderrec& s = sliders.item[i];
    if (s.used == 0) continue;
    beginRecord(text, first, i);
    text.number("x", s.x);
    text.number("y", s.y);
    text.number("w", s.w);
    text.number("h", s.h);
    text.put(s.vertical != 0 ? ",\"orientation\":\"vertical\"" : ",\"orientation\":\"horizontal\"");
    text.number("min", s.min);
    text.number("max", s.max);
    text.number("value", sliderValue(s));
    text.put("}");
  }
}

int encodeControlMap(char* out, size_t size) {
  if (out == nullptr || size == 0) return kMapTooLong;
  MapText text{out, size, 0, false};
  const char* separator = "{\"";
  for (const WidgetKind& kind : kWidgetKinds) {
    text.put(separator);
    text.put(kind.mapName);
    text.put("\":[");
    kind.describe(text);
    text.put("]");
    separator = ",\"";
  }
  text.put("}");
  out[text.full ? 0 : text.at] = '\0';
  return text.full ? kMapTooLong : int(text.at);
}

bool publishControlMap() {
  const int length = encodeControlMap(fresh, sizeof fresh);
  // The published map is written only here, so this thread reads it
  // without the lock.
  if (length < 0 ||
      (size_t(length) == publishedLength && memcmp(fresh, published, publishedLength) == 0)) {
    return false;
  }
  std::lock_guard<std::mutex> hold(mapLock);
  memcpy(published, fresh, size_t(length) + 1);
  publishedLength = size_t(length);
  const uint32_t version = publishedVersion.load(std::memory_order_relaxed);
  publishedVersion.store(version == UINT32_MAX ? 1 : version + 1, std::memory_order_release);
  return true;
}

uint32_t controlMapVersion() {
  return publishedVersion.load(std::memory_order_acquire);
}

int copyControlMap(char* out, size_t size, uint32_t* version) {
  if (out == nullptr || size == 0) return kMapTooLong;
  std::lock_guard<std::mutex> hold(mapLock);
  if (publishedLength >= size) {
    out[0] = '\0';
    return kMapTooLong;
  }
  memcpy(out, published, publishedLength + 1);
  if (version != nullptr) *version = publishedVersion.load(std::memory_order_relaxed);
  return int(publishedLength);
}
