// Key-value text: finding a "Key: value" line in received text and reading a
// decimal value out of it. Shared by the opening handshake and the pointer
// reports; knows nothing of either.
#pragma once

#include <cstddef>
#include <cstdint>

// Finds key in the first textLen bytes of text (stopping at a NUL) and copies
// the non-space characters after the first space that follows it, up to CR or
// LF, into dst (at most dstSize - 1 bytes; dst is cleared by the caller).
// The scanned line is blanked in text. 1 when the key was found, else 0.
int strval(char* text, const char* key, char* dst, size_t textLen, size_t dstSize);

// Decimal value of a text as atoi reads it (optional sign, digits, stop at the
// first other character, no digits gives 0); numbers beyond the 32-bit range
// are held at its ends, so the result is defined and the same everywhere.
int32_t decimalValue(const char* text);
