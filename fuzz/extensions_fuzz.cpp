// Fuzzes the reading of an extension offer list: any bytes give a defined
// result, the reading stays inside the length given, and an accepted offer
// makes a reply that fits its buffer and still ends in the blank line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/extensions.h"
#include "server/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the input's bytes, so any read past them is caught.
  std::vector<char> offers(data, data + size);
  const int terms = chooseDeflateOffer(offers.data(), offers.size());
  if (terms != kOfferNone && terms != kOfferAccepted && terms != kOfferAcceptedWindow15) abort();

  char reply[sizeof(wssession::reply)] = "HTTP/1.1 101 Switching Protocols\r\nA: b\r\n\r\n";
  const int before = int(strlen(reply));
  const int after = addAcceptedExtension(reply, before, sizeof reply, terms);
  if (after != int(strlen(reply)) || after < before) abort();
  if ((terms == kOfferNone) != (after == before)) abort();
  if (memcmp(reply + after - 4, "\r\n\r\n", 4) != 0) abort();
  return 0;
}
