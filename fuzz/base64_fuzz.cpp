// Fuzzes the Base64 codec. Decoding arbitrary text writes no more than
// Base64decode_len announces (the count and its zero byte), into a buffer of
// exactly that size; encoding arbitrary bytes fills exactly Base64encode_len
// bytes, and decoding that text gives the bytes back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const int len = int(size);

  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const int announced = Base64decode_len(text.data());
  if (announced < 1) abort();
  std::vector<uint8_t> decoded(size_t(announced), 0xAA);
  const int count = Base64decode(decoded.data(), text.data());
  if (count < 0 || count > announced - 1 || decoded[size_t(count)] != 0) abort();

  const int encodedLen = Base64encode_len(len);
  std::vector<char> encoded(size_t(encodedLen), 'x');
  if (Base64encode(encoded.data(), data, len) != encodedLen) abort();
  if (strlen(encoded.data()) != size_t(encodedLen - 1)) abort();
  std::vector<uint8_t> back(size_t(Base64decode_len(encoded.data())), 0);
  if (Base64decode(back.data(), encoded.data()) != len) abort();
  if (len > 0 && memcmp(back.data(), data, size) != 0) abort();
  return 0;
}
