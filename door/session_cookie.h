// The session cookie: a token the server signs and keeps nothing of, so a
// session survives a restart and ends when the key file changes (the
// signing secret is derived from the file's records).
//   token = URL-safe Base64 of kind (1 byte) | issued (4 bytes, seconds since
//           1970, big-endian) | nonce (16 random bytes) | HMAC-SHA256 of the
//           first 21 bytes under the session secret (32 bytes)
// A token older than kSessionSeconds is refused; one issued "later" than now
// (a device whose clock was not yet set after a restart) is accepted.
#pragma once

#include <cstdint>

#include "door/access_key.h"

constexpr char kSessionCookie[] = "panel_session";
// 30 days: a phone on the household panel should not ask for the key every
// week; changing the key file ends every session at once anyway.
constexpr int64_t kSessionSeconds = 30LL * 24 * 60 * 60;
constexpr int kTokenBytes = 1 + 4 + 16 + kHashBytes;
constexpr int kTokenLength = (kTokenBytes * 8 + 5) / 6;

// Writes a new token of the given kind (and its NUL); its length, or -1.
int makeSessionToken(const KeyFile& keys, int access, int64_t now, char* out, int size);
// The kind of access the token grants: kAccessControl, kAccessView or
// kAccessNone (malformed, not signed with these keys' secret, or too old).
int checkSessionToken(const KeyFile& keys, const char* token, int length, int64_t now);
