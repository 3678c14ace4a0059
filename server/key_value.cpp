// The key-value extractor and the saturating decimal conversion.
//
// Received text may fill its buffer to the last byte without a terminating
// NUL, so every search and scan here is bounded by the bytes given as well as
// by a NUL.
#include "server/key_value.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Position of the first occurrence of key in text[0, length), or null.
char* find(char* text, size_t length, const char* key) {
  const size_t keyLength = strlen(key);
  if (keyLength == 0 || keyLength > length) return nullptr;
  for (size_t i = 0; i + keyLength <= length; ++i) {
    if (text[i] == key[0] && memcmp(text + i, key, keyLength) == 0) return text + i;
  }
  return nullptr;
}

}  // namespace

int32_t decimalValue(const char* text) {
  const long long value = strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return int32_t(value);
}

int strval(char* text, const char* key, char* dst, size_t textLen, size_t dstSize) {
  const size_t length = strnlen(text, textLen);
  char* line = find(text, length, key);
  if (!line) return 0;
  const size_t lineLength = length - size_t(line - text);
  bool spaceSeen = false;
  size_t out = 0;
  // The scan consumes the whole line, however long, so a later search for the
  // same key finds the next occurrence.
  for (size_t i = 0; i < lineLength; ++i) {
    const char c = line[i];
    if (c == '\n' || c == '\r') break;
    if (c == ' ') {
      spaceSeen = true;
    } else if (spaceSeen && out + 1 < dstSize) {
      dst[out++] = c;
    }
    line[i] = ' ';
  }
  return 1;
}
