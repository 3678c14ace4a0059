// The scripting interface: plain HTTP requests on the panel's own port for
// scripts that read or drive the panel by its controls' names, as rows of
// the front door's route table (door/routes.h):
//   GET  /controls                          the control map as JSON
//   POST /controls/buttons/<label>/press    a click on the first button so labelled
//   POST /controls/sliders/<index>          body "value=<n>": the slider moved there
//   GET  /picture.bmp, GET /picture.png     the picture as it stands
// The table's phases give every POST the origin rules of /login (a foreign
// Origin gets 403), with or without a key; with a key, a session cookie or
// "Authorization: Bearer <key>" (401, or 429 past the guessing limit), and a
// view key may read but not press (403). A slider's body is at most
// kScriptBodyMost bytes; a press takes none. Each answer is whole, after
// which the connection ends, as for the page's files.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "door/http_request.h"
#include "door/routes.h"

constexpr int kScriptBodyMost = 512;
// The longest label a press names, decoded.
constexpr int kScriptLabelMost = 64;

// What the panel does for a script: each writes a JSON body into out (size
// bytes, NUL-terminated) and returns the HTTP status: 200 done, 400 a
// malformed or out-of-range value, 404 no such control, 503 the panel did
// not act in time. main sets them once, before the server starts; while
// none is set the requests get 503.
struct ScriptActions {
  // A click on the first button labelled `label` (decoded, `length` bytes),
  // answered once its action has run: the button's entry of the map.
  int (*press)(const char* label, int length, char* out, int size);
  // The slider `index` moved to the value in `value` (a form value, not
  // decoded), as a drag would: {"index":i,"value":v}.
  int (*moveSlider)(int index, TextSpan value, char* out, int size);
};
extern std::atomic<const ScriptActions*> scriptActions;

// Whether a request's path is one of these rows' (it then needs an answer
// room).
bool scriptPath(TextSpan path);

// The rows to add to the front door's table (addPanelRoutes).
std::span<const Route> scriptRoutes();

// Room the answering thread's answers are built in: a streaming slot's
// transmit buffer, and the slot, whose compressor memory the PNG uses, held
// only while the request is answered; or, with every slot streaming, a room
// of kControlMapSize bytes and no slot, which serves all but the pictures.
// Set by that thread before the request is routed; without it the requests
// get 503.
struct AnswerRoom {
  uint8_t* bytes = nullptr;
  int size = 0;
  int slot = -1;
};
void useAnswerRoom(AnswerRoom room);

// A press's label from the rest of its path ("<label>/press"), percent-
// decoded ("+" stays "+") into out (kScriptLabelMost + 1 bytes): its length,
// or -1 when the path is not a press or the label does not decode. No I/O.
int pressLabelOf(TextSpan rest, char* out);
// A slider's index from the rest of its path: plain digits (at most four),
// or -1.
int sliderIndexOf(TextSpan rest);
