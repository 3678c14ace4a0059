// The opening handshake: pick the key, version and extensions out of the
// upgrade request in rxbuf and build the "101 Switching Protocols" reply:
// 129 bytes, or longer when it accepts an offered extension. Every request
// that reaches it is accepted: the origin policy (server/http_answer.h) has
// already answered the ones it refuses.
#pragma once

#include "server/records.h"

extern const char GUIDKey[];
extern const char response_ws[];
constexpr int kReplyLength = 129;

// Reads the request in record->rxbuf (bounded by its 1,024 bytes), and the
// extension terms it can be given into deflateOn.
int wsin(wssession* record);
// Builds wsAccept, reply and replyLen; returns 0. Without accepted extension
// terms the reply is the 129-byte one; with them it also names the extension.
int wsout(wssession* record);
