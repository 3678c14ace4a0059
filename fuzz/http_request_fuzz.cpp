// Fuzzes the reading of a first read as an HTTP request and the answer it
// gets: whatever the bytes (up to a full receive buffer, no terminating
// zero), every span found lies inside them, the answer is one of the known
// statuses, and a read that is not a request line is always the upgrade.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "door/http_answer.h"
#include "door/origin_policy.h"
#include "door/peer_address.h"
#include "server/records.h"

namespace {

void expectInside(TextSpan span, const char* begin, const char* end) {
  if (span.length < 0) abort();
  if (span.length > 0 && (span.text < begin || span.text + span.length > end)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t length = size < size_t(kRxBufSize) ? size : size_t(kRxBufSize);
  const std::vector<uint8_t> bytes(data, data + length);  // exactly the read, nothing after
  const HttpRequest request = readHttpRequest(bytes.data(), int(length));
  const char* begin = reinterpret_cast<const char*>(bytes.data());
  const char* end = begin + length;
  for (TextSpan span :
       {request.method, request.path, request.host.value, request.origin.value,
        request.upgrade.value, request.key.value, request.contentLength.value, request.cookie.value,
        request.authorization.value, request.version.value, request.extensions.value,
        request.protocols.value, request.forwardedFor.value, request.forwardedFor.last,
        request.forwarded.last, request.fetchSite.value}) {
    expectInside(span, begin, end);
  }
  if (request.headersComplete && (request.bodyStart <= 0 || request.bodyStart > int(length))) {
    abort();
  }
  hostIsLocalName(request.host.value);
  // Behind a trusted proxy, whatever the forwarded headers hold: the client
  // is the peer or an address read from them.
  TrustedProxies proxies;
  readTrustedProxies("127.0.0.1, 10.0.0.0/8", proxies);
  Peer peer;
  peer.address[10] = peer.address[11] = 0xff;
  peer.address[12] = 127;
  peer.address[15] = 1;
  const Peer client = clientOf(peer, request, proxies);
  if (client.text[0] == '\0' || memchr(client.text, '\0', sizeof client.text) == nullptr) abort();
  checkLoginOrigin(request, client.loopback);
  for (bool loopback : {false, true}) {
    const HttpAnswer answer = answerFor(request, loopback);
    switch (answer.status) {
      case 0: break;
      case 200:
        if (answer.file == nullptr) abort();
        break;
      case 403:
        if (answer.refusal >= 0) abort();
        break;
      case 404:
      case 405:
      case 431: break;
      default: abort();
    }
    if (!request.isHttp && answer.status != 0) abort();
  }
  return 0;
}
