// The route of a connection's first read: the origin policy first, then the
// access key when one is in use, then the answer. A request either goes on
// to the WebSocket upgrade or gets one whole HTTP answer, after which the
// connection ends.
#pragma once

#include "door/http_answer.h"
#include "door/http_request.h"
#include "door/peer_address.h"

constexpr int kFirstReadUpgrade = 0;   // go on with the 101 reply
constexpr int kFirstReadAnswered = 1;  // answered over HTTP: end the connection

// Unless the request (read once from the connection's first read) is an
// upgrade to go on with, writes its answer and ends the sending side.
// kFirstReadUpgrade or kFirstReadAnswered; `access` is what an upgrade may
// do (kAccessControl, or kAccessView for a view session).
int answerHttp(int sock, const HttpRequest& request, FirstRead read, const Peer& peer, int* access);
