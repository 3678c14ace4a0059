// Base64 text encoding (standard alphabet, "=" padding) on caller buffers.
#pragma once

#include <cstdint>

extern const char basis_64[65];
extern const uint8_t pr2six[256];

// Encoded length plus one byte for the NUL.
int Base64encode_len(int len);
// Writes the text and a NUL; returns the bytes written, NUL included.
int Base64encode(char* encoded, const uint8_t* input, int len);
// Decoded length plus one, from the leading run of alphabet characters.
int Base64decode_len(const char* encoded);
// Writes the bytes and a NUL after them; returns the bytes, NUL not counted.
int Base64decode(uint8_t* decoded, const char* encoded);
