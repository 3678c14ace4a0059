// The opening handshake: pick the key, version and extensions out of the
// upgrade request in rxbuf and build the 129-byte "101 Switching Protocols"
// reply. Every request is accepted.
#pragma once

#include "server/records.h"

extern const char GUIDKey[];
extern const char response_ws[];
constexpr int kReplyLength = 129;

// Reads the request in record->rxbuf (bounded by its 1,024 bytes).
int wsin(wssession* record);
// Builds wsAccept, reply and replyLen; returns 0.
int wsout(wssession* record);
