// Which upgrade requests may drive the panel. A browser names the page that
// opens a WebSocket in its Origin header and the name it connected to in its
// Host header; the server's own page has an Origin of "http://" and the Host
// it was served under. The policy in full:
//   - no Origin: not a browser (a script, a test client): accepted;
//   - more than one Origin or Host line: refused;
//   - Origin "null" (a page from disk, or a sandboxed frame): accepted only
//     from a loopback peer;
//   - otherwise the Host must be a name no other site can make point here
//     (an IPv4 or bracketed IPv6 literal, a name without dots such as
//     "localhost", or a ".local" name), with an optional port, and the Origin
//     must be "http://" followed by exactly that Host;
//   - a request whose headers do not end inside the first read, with a whole
//     Sec-WebSocket-Key line but no Origin seen, is refused: a browser's
//     Origin might lie past what was read.
#pragma once

#include "server/http_request.h"

constexpr int kOriginAccepted = 0;
constexpr int kOriginCutRequest = -1;     // no Origin seen, the headers cut
constexpr int kOriginRepeated = -2;       // more than one Origin or Host line
constexpr int kOriginNullRemote = -3;     // "null" from a peer not on loopback
constexpr int kOriginNoHost = -4;         // Origin without a Host
constexpr int kOriginForeignHost = -5;    // Host another site could point here
constexpr int kOriginForeignOrigin = -6;  // the page is not the server's own

// kOriginAccepted or the refusal's reason.
int checkOrigin(const HttpRequest& request, bool peerOnLoopback);
// One line of text naming the reason of a refusal.
const char* originRefusalText(int reason);
// True when the socket's peer is a loopback address (127.0.0.0/8, ::1, or an
// IPv4 loopback address mapped into IPv6).
bool peerIsLoopback(int sock);
// True when the Host value names this machine in a way no other site can
// take over: an address literal, a name without dots, or a ".local" name,
// each with an optional ":port".
bool hostIsLocalName(TextSpan host);
