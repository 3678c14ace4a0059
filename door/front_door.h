// A connection's first read and its route: the request read by an absolute
// deadline, then routed by the front door's table (door/routes.h): the row,
// its origin rule, its access when a key is in use, its body, its answer. A request either goes on
// to the WebSocket upgrade or gets one whole HTTP answer, after which the connection ends.
#pragma once

#include <cstdint>
#include <span>

#include "door/http_answer.h"
#include "door/http_request.h"
#include "door/peer_address.h"
#include "door/routes.h"

constexpr int kFirstReadUpgrade = 0;   // go on with the 101 reply
constexpr int kFirstReadAnswered = 1;  // answered over HTTP: end the connection

// From accept to a complete request: a connection that has not sent one by
// then ends (a 408 when some of it came, nothing when nothing did).
constexpr int kRequestDeadlineMs = 4000;

// Results of readRequest besides a count.
constexpr int kRequestNone = -1;   // nothing yet: look again on the next turn
constexpr int kRequestLate = -2;   // the deadline passed: end the connection
constexpr int kRequestError = -3;  // the socket failed or the peer left

// Reads the first read into buf (capacity bytes): what arrives until the
// headers' blank line is in, the buffer is full, or the bytes pause for
// 0.3 s, whichever comes first, and never past deadlineMs (monotonic
// milliseconds). The count read; kRequestNone after 0.3 s with nothing;
// kRequestLate once the deadline has passed, after a 408 to a peer that had
// sent part of a request; kRequestError when the socket failed or the peer
// closed with nothing sent.
// peerClosed is set to 255 when the peer was seen to close its side.
int readRequest(int sock, uint8_t* buf, int capacity, int64_t deadlineMs, uint8_t* peerClosed);

// Unless the request (read once from the connection's first read) is an
// upgrade to go on with, writes its answer and ends the sending side.
// kFirstReadUpgrade or kFirstReadAnswered; `access` is what an upgrade may
// do (kAccessControl, or kAccessView for a view session). `peer` is the
// connection's peer; behind a trusted proxy the client it forwards is used.
int answerHttp(int sock, const HttpRequest& request, FirstRead read, const Peer& peer, int* access);

// Adds rows of the layers above to the route table (the scripting
// interface, server/scripting.h), tried after the table's own rows and
// before the row of the page's files; they replace rows added before. Once,
// before the server starts. 0, or -1 for more than 8 rows.
int addPanelRoutes(std::span<const Route> rows);
