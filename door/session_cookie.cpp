// Making and checking session tokens; the signature is compared in constant
// time. The session secret is module state, written by keepSessionSecret
// before the connection threads start and only read after that.
#include "door/session_cookie.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "door/revoked_sessions.h"

namespace {

constexpr int kSignedBytes = kTokenBytes - kHashBytes;
constexpr int kNonceAt = 5;
static_assert(kNonceAt + kNonceBytes == kSignedBytes, "kind, issued, nonce: the signed bytes");

uint32_t issuedOf(const uint8_t* bytes) {
  return uint32_t(bytes[1]) << 24 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 8 | bytes[4];
}

uint8_t sessionSecret[kSessionSecretBytes];  // set before the threads start
bool secretSet = false;                      // no token is made or accepted without it

constexpr int kSecretFound = 0;
constexpr int kSecretToMake = 1;      // no file, or one of another length
constexpr int kSecretUnreadable = 2;  // a file that cannot be read, or kept private

// The whole secret from the file. One readable by others is made private
// first, with a line saying so.
int readSecret(const char* path, uint8_t* secret) {
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return errno == ENOENT ? kSecretToMake : kSecretUnreadable;
  struct stat info = {};
  if (fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(file);
    return kSecretUnreadable;
  }
  if ((info.st_mode & 077) != 0) {
    if (fchmod(file, S_IRUSR | S_IWUSR) != 0) {
      close(file);
      printf("The session secret in %s is readable by others and cannot be made private.\n", path);
      return kSecretUnreadable;
    }
    printf(
        "The session secret in %s was readable by others: it is now readable by this user "
        "only (0600).\n",
        path);
  }
  uint8_t bytes[kSessionSecretBytes + 1];
  int length = 0;
  ssize_t got = 0;
  for (;;) {
    got = read(file, bytes + length, sizeof bytes - size_t(length));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += int(got);
    if (length == int(sizeof bytes)) break;
  }
  close(file);
  const bool whole = got >= 0 && length == kSessionSecretBytes;
  if (whole) memcpy(secret, bytes, kSessionSecretBytes);
  OPENSSL_cleanse(bytes, sizeof bytes);
  return whole ? kSecretFound : got < 0 ? kSecretUnreadable : kSecretToMake;
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
  const int found = readSecret(path, sessionSecret);
  secretSet = found == kSecretFound;
  if (secretSet) {
    keepRevocations(path, true, dateSeconds());
    return kSecretRead;
  }
  keepRevocations(nullptr, false, 0);
  secretSet = RAND_bytes(sessionSecret, kSessionSecretBytes) == 1;
  if (!secretSet) {
    printf("No session secret could be made: every session is refused.\n");
    return kSecretNone;
  }
  if (found == kSecretUnreadable) {
    printf("The session secret cannot be read from %s: sessions end when the server stops.\n",
           path);
    return kSecretInMemory;
  }
  if (writeFileWhole(path, sessionSecret, kSessionSecretBytes)) {
    // A new secret ends every earlier session: the old record is of no use.
    keepRevocations(path, false, 0);
    return kSecretMade;
  }
  printf("The session secret cannot be written to %s: sessions end when the server stops.\n", path);
  return kSecretInMemory;
}

int64_t dateSeconds() {
  timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t(now.tv_sec);
}

int makeSessionToken(const KeyFile& keys, int access, int64_t now, char* out, int size) {
  uint8_t bytes[kTokenBytes] = {};
  bytes[0] = uint8_t(access);
  const uint32_t issued = uint32_t(now);
  for (int i = 0; i < 4; ++i) bytes[1 + i] = uint8_t(issued >> (24 - 8 * i));
  if (RAND_bytes(bytes + kNonceAt, kNonceBytes) != 1 || !sign(keys, bytes, bytes + kSignedBytes))
    return -1;
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
  const uint32_t issued = issuedOf(bytes);
  if (sessionRevoked(issued, bytes + kNonceAt)) return kAccessNone;
  return now - int64_t(issued) < kSessionSeconds ? access : kAccessNone;
}

void endSession(const KeyFile& keys, const char* token, int length, int64_t now) {
  if (checkSessionToken(keys, token, length, now) == kAccessNone) return;
  uint8_t bytes[kTokenBytes] = {};
  decodeKeyText(token, length, bytes, kTokenBytes);
  revokeSession(issuedOf(bytes), bytes + kNonceAt, now);
}
