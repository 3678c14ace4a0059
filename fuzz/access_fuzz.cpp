// Fuzzes the readers of the access key on arbitrary bytes: the Cookie,
// Authorization and login-body readers, the form decoder and the length
// reader, the session-token check and the key-file reader. Every span found
// lies inside the bytes, a decoded value keeps its terminating zero inside
// its buffer, no made-up token opens a session, and a key file that reads
// is written back to the same records.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "door/access_key.h"
#include "door/http_request.h"
#include "door/session_cookie.h"

namespace {

void expectInside(TextSpan span, const char* begin, const char* end) {
  if (span.length < 0) abort();
  if (span.length > 0 && (span.text < begin || span.text + span.length > end)) abort();
}

// The secret is made at once and, an empty path naming no file, kept in
// memory only.
KeyFile signingKeys() {
  keepSessionSecret("");
  KeyFile keys;
  keys.control.kind = kAccessControl;
  keys.view.kind = kAccessView;
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > size_t(kKeyFileLongest)) return 0;
  const std::vector<char> bytes(data, data + size);  // exactly the input, nothing after
  const char* begin = bytes.data();
  const char* end = begin + size;
  const TextSpan all = {begin, int(size)};
  const TextSpan found[] = {cookieValue(all, "panel_session"), bearerToken(all),
                            formField(all, "key"), formField(all, "secure")};
  for (TextSpan span : found) expectInside(span, begin, end);

  for (int room : {1, 8, kKeyLongest + 1}) {
    std::vector<char> out(size_t(room) + 1, 'x');
    const int length = formDecode(found[2], out.data(), room);
    if (length >= room || (length >= 0 && out[size_t(length)] != 0)) abort();
    if (out[size_t(room)] != 'x') abort();  // nothing past the room given
  }
  const int length = contentLengthOf(all, 512);
  if (length < -1 || length > 512) abort();

  static const KeyFile keys = signingKeys();
  if (checkSessionToken(keys, found[0].text, found[0].length, 0) != kAccessNone) abort();

  KeyFile parsed;
  if (parseKeyFile(begin, int(size), &parsed) == kKeyFileRead) {
    char text[kKeyFileLongest] = {};
    int written = 0;
    for (const KeyRecord* record : {&parsed.control, &parsed.view}) {
      if (record->kind == kAccessNone) continue;
      written += formatKeyRecord(*record, text + written, int(sizeof text) - written);
    }
    KeyFile again;
    if (parseKeyFile(text, written, &again) != kKeyFileRead) abort();
    if (memcmp(again.identity, parsed.identity, kHashBytes) != 0) abort();
  }
  return 0;
}
