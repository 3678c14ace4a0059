// Making and checking session tokens; the signature is compared in constant
// time.
#include "door/session_cookie.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <cstring>

namespace {

constexpr int kSignedBytes = kTokenBytes - kHashBytes;

bool sign(const KeyFile& keys, const uint8_t* bytes, uint8_t* mac) {
  unsigned int length = 0;
  return HMAC(EVP_sha256(), keys.sessionSecret, kHashBytes, bytes, size_t(kSignedBytes), mac,
              &length) != nullptr &&
         length == unsigned(kHashBytes);
}

}  // namespace

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
