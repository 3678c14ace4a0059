// The opening handshake: pick the key, version and extensions out of the
// upgrade request in rxbuf and build the "101 Switching Protocols" reply:
// 129 bytes, or longer when it accepts an offered extension. Every request is
// accepted.
#pragma once

#include <cstddef>

#include "server/records.h"

extern const char GUIDKey[];
extern const char response_ws[];
constexpr int kReplyLength = 129;

// Finds key in the first textLen bytes of text (stopping at a NUL) and copies
// the non-space characters after the first space that follows it, up to CR or
// LF, into dst (at most dstSize - 1 bytes; dst is cleared by the caller).
// The scanned line is blanked in text. 1 when the key was found, else 0.
int strval(char* text, const char* key, char* dst, size_t textLen, size_t dstSize);

// Decimal value of a text as atoi reads it (optional sign, digits, stop at the
// first other character, no digits gives 0); numbers beyond the 32-bit range
// are held at its ends, so the result is defined and the same everywhere.
int32_t decimalValue(const char* text);

// Reads the request in record->rxbuf (bounded by its 1,024 bytes), and the
// extension terms it can be given into deflateOn.
int wsin(wssession* record);
// Builds wsAccept, reply and replyLen; returns 0. Without accepted extension
// terms the reply is the 129-byte one; with them it also names the extension.
int wsout(wssession* record);
