// Base64 text encoding with the standard alphabet and "=" padding. The
// encoder writes one unbroken line; the decoder reads the leading run of
// alphabet characters and stops at the first byte outside it, so padding,
// white space and anything after them are never looked at.
#include "server/base64.h"

namespace {

constexpr uint8_t kNotAlphabet = 64;

// Length of the leading run of alphabet characters.
int alphabetRun(const char* encoded) {
  int n = 0;
  while (pr2six[uint8_t(encoded[n])] < kNotAlphabet) ++n;
  return n;
}

}  // namespace

const char basis_64[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 6-bit value of each alphabet character; 64 for every other byte.
const uint8_t pr2six[256] = {
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 62, 64, 64, 64, 63,  // '+' '/'
    52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 64, 64, 64, 64, 64, 64,  // '0'..'9'
    64, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,  // 'A'..
    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 64, 64, 64, 64, 64,  // ..'Z'
    64, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,  // 'a'..
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 64, 64, 64, 64, 64,  // ..'z'
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,  //
};

int Base64encode_len(int len) {
  // A negative length encodes nothing, like 0: only the NUL.
  if (len < 0) len = 0;
  return ((len + 2) / 3) * 4 + 1;
}

int Base64encode(char* encoded, const uint8_t* input, int len) {
  char* out = encoded;
  int i = 0;
  for (; i < len - 2; i += 3) {
    *out++ = basis_64[input[i] >> 2];
    *out++ = basis_64[((input[i] & 3) << 4) | (input[i + 1] >> 4)];
    *out++ = basis_64[((input[i + 1] & 15) << 2) | (input[i + 2] >> 6)];
    *out++ = basis_64[input[i + 2] & 63];
  }
  if (len - i == 1) {
    *out++ = basis_64[input[i] >> 2];
    *out++ = basis_64[(input[i] & 3) << 4];
    *out++ = '=';
    *out++ = '=';
  } else if (len - i == 2) {
    *out++ = basis_64[input[i] >> 2];
    *out++ = basis_64[((input[i] & 3) << 4) | (input[i + 1] >> 4)];
    *out++ = basis_64[(input[i + 1] & 15) << 2];
    *out++ = '=';
  }
  *out++ = '\0';
  return int(out - encoded);
}

int Base64decode_len(const char* encoded) {
  return ((alphabetRun(encoded) + 3) / 4) * 3 + 1;
}

int Base64decode(uint8_t* decoded, const char* encoded) {
  const uint8_t* in = reinterpret_cast<const uint8_t*>(encoded);
  uint8_t* out = decoded;
  int r = alphabetRun(encoded);
  for (; r > 4; r -= 4, in += 4) {
    *out++ = uint8_t(pr2six[in[0]] << 2 | pr2six[in[1]] >> 4);
    *out++ = uint8_t(pr2six[in[1]] << 4 | pr2six[in[2]] >> 2);
    *out++ = uint8_t(pr2six[in[2]] << 6 | pr2six[in[3]]);
  }
  // The last group of 1 to 4 characters; a lone character carries no byte.
  if (r > 1) *out++ = uint8_t(pr2six[in[0]] << 2 | pr2six[in[1]] >> 4);
  if (r > 2) *out++ = uint8_t(pr2six[in[1]] << 4 | pr2six[in[2]] >> 2);
  if (r > 3) *out++ = uint8_t(pr2six[in[2]] << 6 | pr2six[in[3]]);
  *out = '\0';
  return int(out - decoded);
}
