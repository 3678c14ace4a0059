// The session cookie: a token the server signs and keeps nothing of, so a
// session survives a restart and ends when the key file changes.
//   token = URL-safe Base64 of kind (1 byte) | issued (4 bytes, seconds since
//           1970, big-endian) | nonce (16 random bytes) | HMAC-SHA256 of the
//           first 21 bytes under the signing key (32 bytes)
//   signing key = HMAC-SHA256 of the key file's identity under the session
//                 secret
// The session secret is 32 random bytes the server makes once and keeps in
// kSessionSecretFile in its working folder (mode 0600), so the key file
// alone, read from a backup, mints no session; and a new key still ends
// every session, its identity being another. A file of another length is
// replaced by a new secret; one readable by others is made readable by this
// user only (0600), with a line saying so. A file that exists but cannot be
// read is never replaced: like a folder that cannot be written, it leaves
// the secret in memory only, and sessions end when the server stops.
// "Sign out" ends its session for good (door/revoked_sessions.h).
// A token older than kSessionSeconds is refused; one issued "later" than now
// (a device whose clock was not yet set after a restart) is accepted.
#pragma once

#include <cstdint>

#include "door/access_key.h"

constexpr char kSessionCookie[] = "panel_session";
constexpr char kSessionSecretFile[] = "session-secret";
constexpr int kSessionSecretBytes = 32;
// 30 days: a phone on the household panel should not ask for the key every
// week; changing the key file ends every session at once anyway.
constexpr int64_t kSessionSeconds = 30LL * 24 * 60 * 60;
constexpr int kTokenBytes = 1 + 4 + 16 + kHashBytes;
constexpr int kTokenLength = (kTokenBytes * 8 + 5) / 6;

constexpr int kSecretRead = 0;       // the file held a secret
constexpr int kSecretMade = 1;       // a new secret, written to the file
constexpr int kSecretInMemory = -1;  // the file cannot be written: until the server stops
constexpr int kSecretNone = -2;      // no random bytes: no session is made or accepted

// Takes the session secret from the file at `path`, or makes one and writes
// it there, and the record of ended sessions beside it; before any
// connection thread starts, and again only in tests. Prints one line when
// the secret cannot be kept, or its file was readable by others.
int keepSessionSecret(const char* path);
// The date in seconds: a session token carries when it was issued, which
// holds across restarts, so this is the realtime clock, not the monotonic one.
int64_t dateSeconds();
// Writes a new token of the given kind (and its NUL); its length, or -1.
int makeSessionToken(const KeyFile& keys, int access, int64_t now, char* out, int size);
// The kind of access the token grants: kAccessControl, kAccessView or
// kAccessNone (malformed, not signed with these keys' secret, or too old).
int checkSessionToken(const KeyFile& keys, const char* token, int length, int64_t now);
// Ends the session of a token that checkSessionToken accepts; nothing for
// any other.
void endSession(const KeyFile& keys, const char* token, int length, int64_t now);
