// Which upgrade requests may drive the panel. A browser names the page that
// opens a WebSocket in its Origin header and the name it connected to in its
// Host header; the server's own page has an Origin of "http://" and the Host
// it was served under. The policy in full:
//   - no Origin: not a browser (a script, a test client): accepted;
//   - more than one Origin or Host line: refused;
//   - Origin "null" (a page from disk, or a sandboxed frame): accepted only
//     from a loopback peer, and refused from every peer while PANEL_ORIGINS
//     is set (behind a proxy every peer is loopback);
//   - an Origin named in PANEL_ORIGINS: accepted, whatever the Host (a proxy
//     may pass its own); forwarded headers are never read for it (they name
//     the client's address only, from a trusted proxy: door/peer_address.h);
//   - otherwise the Host must be a name no other site can make point here
//     (an IPv4 or bracketed IPv6 literal, a name without dots such as
//     "localhost", or a name ending in ".local", ".home.arpa" or
//     ".internal"), with an optional port, and the Origin must be "http://"
//     followed by exactly that Host;
//   - a request whose headers do not end inside the first read, with a whole
//     Sec-WebSocket-Key line but no Origin seen, is refused: a browser's
//     Origin might lie past what was read;
//   - /login and /logout are stricter (checkLoginOrigin).
#pragma once

#include "door/http_request.h"

constexpr int kOriginAccepted = 0;
constexpr int kOriginCutRequest = -1;      // no Origin seen, the headers cut
constexpr int kOriginRepeated = -2;        // more than one Origin or Host line
constexpr int kOriginNullRemote = -3;      // "null" from a peer not on loopback
constexpr int kOriginNoHost = -4;          // Origin without a Host
constexpr int kOriginForeignHost = -5;     // Host another site could point here
constexpr int kOriginForeignOrigin = -6;   // the page is not the server's own
constexpr int kOriginNullListed = -7;      // "null" while PANEL_ORIGINS is set
constexpr int kOriginNullLogin = -8;       // "null" on /login or /logout, from any peer
constexpr int kOriginMissingBrowser = -9;  // a browser's /login or /logout without Origin

// The origins PANEL_ORIGINS allows, each kept as "scheme://host[:port]" in
// lower case with a default port dropped, as a browser writes its Origin.
constexpr int kAllowedOriginsMost = 8;
constexpr int kAllowedOriginLongest = 120;
struct AllowedOrigins {
  int count = 0;  // 0: the setting is not made
  char text[kAllowedOriginsMost][kAllowedOriginLongest + 1] = {};
};
// Set once by readOriginsSetting before the server starts; read-only after.
extern AllowedOrigins allowedOrigins;

// Results of readAllowedOrigins besides a count.
constexpr int kOriginsBadEntry = -1;  // not "http(s)://host[:port]"
constexpr int kOriginsTooMany = -2;   // more than kAllowedOriginsMost entries
constexpr int kOriginsTooLong = -3;   // an entry longer than kAllowedOriginLongest

// Reads a comma-separated list of origins into `out`: the count, or a
// failure with `out` left empty.
int readAllowedOrigins(const char* list, AllowedOrigins& out);
// Reads PANEL_ORIGINS into allowedOrigins: 0, or a failure after a line on
// stderr naming the bad value.
int readOriginsSetting();

// Writes the WebSocket form of every allowed origin (" wss://host" for an
// https:// origin, " ws://host" for an http:// one) for the page's
// connect-src: the length written, or -1 when it does not fit in size.
int writeOriginSources(char* out, int size);
// The room writeOriginSources needs at most.
constexpr int kOriginSourcesBound = kAllowedOriginsMost * (kAllowedOriginLongest + 1) + 1;

// kOriginAccepted or the refusal's reason, under allowedOrigins.
int checkOrigin(const HttpRequest& request, bool peerOnLoopback);
// The same under the given list.
int checkOriginWith(const HttpRequest& request, bool peerOnLoopback, const AllowedOrigins& allowed);
// The policy of POST /login and /logout, which change the owner's session
// and count against the guessing limit: as an upgrade's, but Origin "null"
// (a sandboxed frame, a form with no referrer) is refused from every peer,
// and so is a request without Origin that names Sec-Fetch-Site: only a
// browser sends that, and every browser that sends it also sends Origin on
// a POST. A script without either is still accepted.
int checkLoginOrigin(const HttpRequest& request, bool peerOnLoopback);
// One line of text naming the reason of a refusal.
const char* originRefusalText(int reason);
// True when the Host value names this machine in a way no other site can
// take over: an address literal, a name without dots, or a name under
// ".local", ".home.arpa" or ".internal", each with an optional ":port".
bool hostIsLocalName(TextSpan host);
