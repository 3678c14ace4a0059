// The opening handshake: take the key, version, extension and subprotocol
// offers from the upgrade request as it was read once and build the
// "101 Switching Protocols" reply: 129 bytes, or longer when it accepts an
// offered extension or the subprotocol. Every request that reaches it is
// accepted: the origin policy (door/origin_policy.h) has already refused
// the others, each with its HTTP answer.
#pragma once

#include "door/http_request.h"
#include "server/records.h"

extern const char GUIDKey[];
extern const char response_ws[];
constexpr int kReplyLength = 129;

// Takes the key, version and offers of the request into the record: the
// extension terms it can be given into deflateOn, the change stream into
// changesOn, the control map beside it into controlsOn. 1 when the request names an extension
// offer, else 0.
int wsin(wssession* record, const HttpRequest& request);
// Builds wsAccept, reply and replyLen; returns 0. Without accepted extension
// terms the reply is the 129-byte one; with them it also names the extension.
int wsout(wssession* record);
