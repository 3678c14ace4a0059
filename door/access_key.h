// The access key: the key file that PANEL_KEY_FILE names, the salted hashes
// it holds and the check of a key against them.
//
// The key file is text, one key to a line, at most one control and one view
// key; blank lines and lines opening with "#" are skipped:
//   <kind> pbkdf2-sha256 <iterations> <salt> <hash>
// kind is "control" or "view"; salt (16 bytes) and hash (32 bytes) are
// written in URL-safe Base64 without padding. The hash is
// PBKDF2-HMAC-SHA256 of the key with that salt and iteration count. No key
// is ever kept in clear, in the file or in memory past one check.
//
// The server reads the file at start (a missing, unreadable or malformed
// file stops the start) and again whenever it changes (inode, size or time),
// so a new key ends every session at once; a file that goes bad while the
// server runs refuses every key and every session.
#pragma once

#include <cstdint>

constexpr int kAccessNone = 0;
constexpr int kAccessView = 1;
constexpr int kAccessControl = 2;

constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
constexpr int kKeyBytes = 16;  // a new random key: 128 bits
// Iterations of a new passphrase's hash: 69.6 million instructions per
// check on 32-bit ARM, about 70 ms of a 1 GHz core (docs/PERFORMANCE.md).
constexpr uint32_t kKeyIterations = 20000;
// A random key of kKeyBytes is hashed once: 128 bits cannot be found by
// guessing, offline or online, so its check costs one HMAC and is made
// before any guessing limit.
constexpr uint32_t kRandomKeyIterations = 1;
constexpr uint32_t kIterationsLeast = 1000;
constexpr uint32_t kIterationsMost = 10000000;
constexpr int kKeyLongest = 256;       // longer keys or passphrases are refused
constexpr int kKeyFileLongest = 2048;  // a longer file is malformed
constexpr int kKeyLineLongest = 200;

constexpr int kKeyFileRead = 0;
constexpr int kKeyFileMissing = -1;     // no such file
constexpr int kKeyFileUnreadable = -2;  // it exists but cannot be read
constexpr int kKeyFileMalformed = -3;   // a line that is not a key, or no key at all

struct KeyRecord {
  uint8_t kind = kAccessNone;
  uint32_t iterations = 0;
  uint8_t salt[kSaltBytes] = {};
  uint8_t hash[kHashBytes] = {};
};

struct KeyFile {
  KeyRecord control;  // kind kAccessNone when the file holds no such key
  KeyRecord view;
  // A digest of the records: the same after a restart, another once any key
  // changes. Not secret: the session cookies are signed with it mixed into
  // the server's own random secret (door/session_cookie.h).
  uint8_t identity[kHashBytes] = {};
};

// URL-safe Base64 without padding; the text's length, or -1 when it does
// not fit (NUL included).
int encodeKeyText(const uint8_t* bytes, int count, char* out, int size);
// Exactly `count` bytes from exactly their text; -1 otherwise.
int decodeKeyText(const char* text, int length, uint8_t* out, int count);

// The PBKDF2-HMAC-SHA256 hash of a key; 0, or -1 when libcrypto fails.
int hashKey(const char* key, int length, const uint8_t* salt, uint32_t iterations, uint8_t* hash);
// One line of the file for the record, with its newline; its length or -1.
int formatKeyRecord(const KeyRecord& record, char* out, int size);
// Reads the file's text; kKeyFileRead or kKeyFileMalformed. Also derives
// the identity from the records.
int parseKeyFile(const char* text, int length, KeyFile* keys);
// Reads and parses the file: kKeyFileRead or a negative reason.
int loadKeyFile(const char* path, KeyFile* keys);
// The kind of access the key opens: kAccessControl, kAccessView or
// kAccessNone. Costs one hash per key in the file, compared in constant time.
int checkKey(const KeyFile& keys, const char* key, int length);
// The same among the random keys only (kRandomKeyIterations): a few
// microseconds whatever the file holds.
int checkRandomKey(const KeyFile& keys, const char* key, int length);
// The same among the passphrases only: the slow hashes.
int checkPassphrase(const KeyFile& keys, const char* key, int length);

// PANEL_KEY_FILE: unset, 0 (no key needed); else the file is read: 1, or a
// negative reason after a message on stderr.
int readKeyFileSetting();
// Writes the bytes to a new file beside `path`, readable by this user only,
// and renames it over `path`, so a reader never sees half a file. On failure
// errno tells why (ENOENT: the folder is missing).
bool writeFileWhole(const char* path, const void* bytes, int length);

// True when a key file was set at start.
bool accessKeyOn();
// A copy of the keys as the file now holds them, read again when it changed.
void currentKeys(KeyFile* keys);
// Sets the key file for a test in this process; null turns the key off.
int useKeyFile(const char* path);
