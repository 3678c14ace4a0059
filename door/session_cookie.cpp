// Making and checking session tokens; the signature is compared in constant
// time. The session secret is module state, written by keepSessionSecret
// before the connection threads start and only read after that.
#include "door/session_cookie.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kSignedBytes = kTokenBytes - kHashBytes;

uint8_t sessionSecret[kSessionSecretBytes];  // set before the threads start
bool secretSet = false;                      // no token is made or accepted without it

// The whole secret from the file; false when it is missing, unreadable or
// of another length.
bool readSecret(const char* path, uint8_t* secret) {
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  uint8_t bytes[kSessionSecretBytes + 1];
  int length = 0;
  for (;;) {
    const ssize_t got = read(file, bytes + length, sizeof bytes - size_t(length));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += int(got);
    if (length == int(sizeof bytes)) break;
  }
  close(file);
  const bool whole = length == kSessionSecretBytes;
  if (whole) memcpy(secret, bytes, kSessionSecretBytes);
  OPENSSL_cleanse(bytes, sizeof bytes);
  return whole;
}

// A new file holding the secret, readable by this user only.
bool writeSecret(const char* path, const uint8_t* secret) {
  unlink(path);
  const int file = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (file < 0) return false;
  const bool written =
      write(file, secret, kSessionSecretBytes) == kSessionSecretBytes && fsync(file) == 0;
  if (close(file) != 0 || !written) {
    unlink(path);
    return false;
  }
  return true;
}

bool sign(const KeyFile& keys, const uint8_t* bytes, uint8_t* mac) {
  uint8_t key[kHashBytes];
  unsigned int length = 0;
  const bool keyed = secretSet &&
                     HMAC(EVP_sha256(), sessionSecret, kSessionSecretBytes, keys.identity,
                          kHashBytes, key, &length) != nullptr &&
                     length == unsigned(kHashBytes);
  const bool signed_ =
      keyed &&
      HMAC(EVP_sha256(), key, kHashBytes, bytes, size_t(kSignedBytes), mac, &length) != nullptr &&
      length == unsigned(kHashBytes);
  OPENSSL_cleanse(key, sizeof key);
  return signed_;
}

}  // namespace

int keepSessionSecret(const char* path) {
  secretSet = readSecret(path, sessionSecret);
  if (secretSet) return kSecretRead;
  secretSet = RAND_bytes(sessionSecret, kSessionSecretBytes) == 1;
  if (!secretSet) {
    printf("No session secret could be made: every session is refused.\n");
    return kSecretNone;
  }
  if (writeSecret(path, sessionSecret)) return kSecretMade;
  printf("The session secret cannot be written to %s: sessions end when the server stops.\n", path);
  return kSecretInMemory;
}

int makeSessionToken(const KeyFile& keys, int access, int64_t now, char* out, int size) {
  uint8_t bytes[kTokenBytes] = {};
  bytes[0] = uint8_t(access);
  const uint32_t issued = uint32_t(now);
  for (int i = 0; i < 4; ++i) bytes[1 + i] = uint8_t(issued >> (24 - 8 * i));
  if (RAND_bytes(bytes + 5, 16) != 1 || !sign(keys, bytes, bytes + kSignedBytes)) return -1;
  return encodeKeyText(bytes, kTokenBytes, out, size);
}

int checkSessionToken(const KeyFile& keys, const char* token, int length, int64_t now) {
  uint8_t bytes[kTokenBytes] = {};
  if (decodeKeyText(token, length, bytes, kTokenBytes) != kTokenBytes) return kAccessNone;
  uint8_t mac[kHashBytes] = {};
  if (!sign(keys, bytes, mac) || CRYPTO_memcmp(mac, bytes + kSignedBytes, kHashBytes) != 0) {
    return kAccessNone;
  }
  const int access = bytes[0];
  const KeyRecord& record = access == kAccessView ? keys.view : keys.control;
  if ((access != kAccessView && access != kAccessControl) || record.kind != access) {
    return kAccessNone;
  }
  const uint32_t issued =
      uint32_t(bytes[1]) << 24 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 8 | bytes[4];
  return now - int64_t(issued) < kSessionSeconds ? access : kAccessNone;
}
