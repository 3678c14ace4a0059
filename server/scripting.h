// The scripting interface: plain HTTP requests on the panel's own port for
// scripts that read or drive the panel by its controls' names.
//   GET  /controls                          the control map as JSON
//   POST /controls/buttons/<label>/press    a click on the first button so labelled
//   POST /controls/sliders/<index>          body "value=<n>": the slider moved there
//   GET  /picture.bmp, GET /picture.png     the picture as it stands
// HEAD is taken wherever GET is. Every POST passes the origin rules of
// /login (a foreign Origin gets 403), with or without a key; with a key,
// each request needs a session cookie or "Authorization: Bearer <key>"
// (401, or 429 past the guessing limit), and a view key may read but not
// press (403). A POST body is at most kScriptBodyMost bytes. Each answer is
// whole, after which the connection ends, as for the page's files.
#pragma once

#include <atomic>
#include <cstdint>

#include "door/http_answer.h"
#include "door/http_request.h"
#include "door/peer_address.h"

constexpr int kScriptBodyMost = 512;
// The longest label a press names, decoded.
constexpr int kScriptLabelMost = 64;

// What the panel does for a script: each writes a JSON body into out (size
// bytes, NUL-terminated) and returns the HTTP status: 200 done, 400 a
// malformed or out-of-range value, 404 no such control, 503 the panel did
// not act in time. main sets them once, before the server starts; while one
// is null its requests get 503.
struct ScriptActions {
  // A click on the first button labelled `label` (decoded, `length` bytes),
  // answered once its action has run: the button's entry of the map.
  int (*press)(const char* label, int length, char* out, int size);
  // The slider `index` moved to the value in `value` (a form value, not
  // decoded), as a drag would: {"index":i,"value":v}.
  int (*moveSlider)(int index, TextSpan value, char* out, int size);
};
extern std::atomic<const ScriptActions*> scriptActions;

// Room an answer may be built in, beside the first read: a connection's
// transmit buffer, and the slot whose compressor memory the PNG may use.
struct AnswerRoom {
  uint8_t* bytes = nullptr;
  int size = 0;
  int slot = -1;
};

// Which request of the interface this is.
struct ScriptRequest {
  int kind = 0;          // kScriptNone, or one below
  int sliderIndex = -1;  // kScriptSlider: the index, -1 when it is not one
  char label[kScriptLabelMost + 1] = {};
  int labelLength = -1;  // kScriptPress: -1 when the label does not decode
};
constexpr int kScriptNone = 0;  // not a path of the interface
constexpr int kScriptControls = 1;
constexpr int kScriptPress = 2;
constexpr int kScriptSlider = 3;
constexpr int kScriptBmp = 4;
constexpr int kScriptPng = 5;
constexpr int kScriptUnknown = 6;  // under /controls/, but no such request: 404

// Reads the path: no I/O.
ScriptRequest scriptRequestOf(const HttpRequest& request);
// True for a request of the interface: a path of it, and no WebSocket
// upgrade (whose path is never looked at).
bool isScriptRequest(const HttpRequest& request);

// Answers a request of the interface (scriptRequestOf's kind is not
// kScriptNone) and ends the sending side: the method, the origin rules, the
// key when one is in use, then the request itself.
void answerScript(int sock, const HttpRequest& request, FirstRead read, const Peer& peer,
                  AnswerRoom room);
