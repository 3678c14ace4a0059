// Sessions ended by "Sign out": a session token is signed and kept nowhere,
// so a logout records the token's issue time and nonce here, and a token so
// recorded is refused for the rest of its life.
//   - The record holds kRevokedMost tokens. A token past kSessionSeconds is
//     refused by its age anyway, so its place is free again.
//   - When every place holds a live token, the one issued first makes way,
//     and every token issued at or before it is refused from then on (the
//     record's floor): a few sessions besides the ended ones may end, none
//     that was ended comes back.
//   - The record is kept in kRevokedFile beside the session secret, a fixed
//     size, written whole through a temporary file and renamed, so it
//     survives a restart. A file that cannot be read as a record ends every
//     session issued before the start. Beside a secret kept in memory only,
//     the record is kept in memory too.
// Module state under a lock of its own: a logout writes while other
// connections check their cookies.
#pragma once

#include <cstdint>

constexpr char kRevokedFile[] = "session-revoked";
constexpr int kRevokedMost = 128;
constexpr int kNonceBytes = 16;
// The file: the floor (4 bytes, big-endian), then each place: issued
// (4 bytes, big-endian) and nonce; a free place is all zero.
constexpr int kRevokedFileBytes = 4 + kRevokedMost * (4 + kNonceBytes);

// Takes the record from the file beside `secretPath` (null: none, kept in
// memory only), or starts an empty one there when not `fromFile` (a new
// secret has ended every earlier session); `now` is the realtime second.
// Prints one line when the file cannot be read.
void keepRevocations(const char* secretPath, bool fromFile, int64_t now);
// True when the token of that issue time and nonce was ended.
bool sessionRevoked(uint32_t issued, const uint8_t* nonce);
// Records the token as ended, and writes the record when it has a file.
// Prints one line when the file cannot be written.
void revokeSession(uint32_t issued, const uint8_t* nonce, int64_t now);
