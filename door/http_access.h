// The answers while an access key is in use (PANEL_KEY_FILE):
//   - POST /login with the form body "key=<key>[&secure=1]": the right key
//     gets 200 with the session cookie (Secure when the page says it came
//     over HTTPS) and {"access":"control"} or {"access":"view"}; a wrong one
//     401; too many wrong ones 429 with Retry-After (door/guess_limit.h).
//     The body may follow the headers in later reads, within kBodyWaitMs
//     and the receive buffer (the route's body phase, door/routes.h).
//   - POST /logout: 200, the cookie cleared (Max-Age=0).
//   - GET or HEAD /session: {"access":"none"|"view"|"control"} by cookie.
//   - An upgrade: with a valid session cookie or "Authorization: Bearer
//     <key>" it goes on (a view session's reports are dropped); else 401
//     with WWW-Authenticate: Bearer, or 429, and one printed line naming the
//     peer's address. A first read that is not a request is refused alike.
//   - The page: as without a key, with a line after "<head>" telling its
//     script the session: <meta name="panel-access" content="login|view|control">.
//   - /login and /logout pass the upgrade's origin policy first (403).
// No key is ever printed. The request's route (door/front_door.h) chooses
// which of these a request gets; each builds its answer, it writes none.
#pragma once

#include "door/http_answer.h"
#include "door/peer_address.h"

constexpr int kLoginBodyMost = 512;

// POST /login with its body (read whole into the first read's room by the
// route): checks the key under the guessing limit and answers 200 with the
// cookie, 401, 429 or 400. The body is cleared in the first read once its
// key is taken; the answer's extra lines hold the new token until the
// caller has written and cleared them.
HttpAnswer loginAnswer(FirstRead read, TextSpan body, const Peer& peer);
// POST /logout: 200 with the cookie cleared.
HttpAnswer logoutAnswer();
// GET or HEAD /session: the access the request's cookie gives.
HttpAnswer sessionAnswer(const HttpRequest& request, bool headOnly);
// An upgrade the origin policy let through: status 0 with *access set when
// its cookie or its Bearer key opens the panel, else the 401 or 429 to write.
// A Bearer line is cleared in the first read once checked.
HttpAnswer admitAnswer(const HttpRequest& request, FirstRead read, const Peer& peer, int* access);
// A first read that is not a request: 401, asking for the key.
HttpAnswer keyNeededAnswer(const Peer& peer);
// The line put after the page's "<head>" that tells its script the session.
const char* pageMarker(const HttpRequest& request);
