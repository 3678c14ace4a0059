// The scripting interface's requests: read from the path, checked in the
// order method, origin, key, body, then answered. The control map and the
// pictures are copied under their own locks into the answer room; a press
// or a slider move is the panel's own work (ScriptActions), so it reaches
// the panel exactly as a finger's does.
#include "server/scripting.h"

#include <cstdio>
#include <cstring>

#include "door/access_key.h"
#include "door/http_access.h"
#include "door/origin_policy.h"
#include "graphics/framebuffer.h"
#include "server/picture_png.h"
#include "widgets/control_map.h"

std::atomic<const ScriptActions*> scriptActions{nullptr};

namespace {

constexpr char kJsonType[] = "application/json";
constexpr char kControlsPath[] = "/controls";
constexpr char kButtonsPrefix[] = "/controls/buttons/";
constexpr char kPressSuffix[] = "/press";
constexpr char kSlidersPrefix[] = "/controls/sliders/";
constexpr int kIndexDigitsMost = 4;

bool startsWith(TextSpan span, const char* prefix, int length) {
  return span.length >= length && memcmp(span.text, prefix, size_t(length)) == 0;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decodes a path segment ("+" stays "+"); its length, or -1 for a
// bad escape, a NUL, or more than `size` - 1 bytes.
int decodeSegment(TextSpan segment, char* out, int size) {
  int made = 0;
  for (int i = 0; i < segment.length; ++i) {
    int c = static_cast<unsigned char>(segment.text[i]);
    if (c == '%') {
      const int high = i + 2 < segment.length ? hexValue(segment.text[i + 1]) : -1;
      const int low = high >= 0 ? hexValue(segment.text[i + 2]) : -1;
      if (low < 0) return -1;
      c = high * 16 + low;
      i += 2;
    }
    if (c == 0 || made >= size - 1) return -1;
    out[made++] = char(c);
  }
  out[made] = '\0';
  return made;
}

// Plain decimal digits below kMaxSliders' reach, else -1.
int indexOf(TextSpan text) {
  if (text.length < 1 || text.length > kIndexDigitsMost) return -1;
  int value = 0;
  for (int i = 0; i < text.length; ++i) {
    if (text.text[i] < '0' || text.text[i] > '9') return -1;
    value = value * 10 + (text.text[i] - '0');
  }
  return value;
}

bool isPost(const ScriptRequest& script) {
  return script.kind == kScriptPress || script.kind == kScriptSlider;
}

HttpAnswer jsonAnswer(int status, const char* reason, const char* body, int length,
                      EmbeddedFile* keep) {
  HttpAnswer answer;
  answer.status = status;
  answer.reason = reason;
  answer.type = kJsonType;
  *keep = {reinterpret_cast<const uint8_t*>(body), length};
  answer.file = keep;
  return answer;
}

const char* reasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    default: return "Service Unavailable";
  }
}

void writeJson(int sock, int status, const char* body, int length, bool headOnly) {
  EmbeddedFile keep{};
  HttpAnswer answer = jsonAnswer(status, reasonOf(status), body, length, &keep);
  answer.headOnly = headOnly;
  writeAnswer(sock, answer);
}

void writeText(int sock, int status, const char* reason, const char* text) {
  writeAnswer(sock, textAnswer(status, reason, text));
}

// The published control map, copied whole.
void answerControls(int sock, AnswerRoom room, bool headOnly) {
  uint32_t version = 0;
  char* out = reinterpret_cast<char*>(room.bytes);
  const int length = copyControlMap(out, size_t(room.size), &version);
  if (length < 0) {
    writeText(sock, 503, "Service Unavailable", "control map not available");
    return;
  }
  writeJson(sock, 200, out, length, headOnly);
}

// The picture as it stands, copied under the frame buffer's lock (the BMP)
// or encoded under it (the PNG), then sent without the lock.
void answerPicture(int sock, AnswerRoom room, bool png, bool headOnly) {
  int length = 0;
  {
    FrameLock lock;
    if (png) {
      length = pictureToPng(room.slot, room.bytes, room.size);
    } else {
      const uint32_t size = bmpFileSize();
      length = size == 0 ? kPngNoPicture : size > uint32_t(room.size) ? kPngTooLarge : int(size);
      if (length > 0) memcpy(room.bytes, BMP_DUMP, size);
    }
  }
  if (length == kPngNoPicture) {
    writeText(sock, 503, "Service Unavailable", "no picture loaded");
    return;
  }
  if (length == kPngUnsupported) {
    writeText(sock, 501, "Not Implemented", "PNG of this picture's bit depth not made");
    return;
  }
  if (length < 0) {
    writeText(sock, 503, "Service Unavailable", "picture could not be made");
    return;
  }
  const EmbeddedFile body{room.bytes, length};
  HttpAnswer answer;
  answer.status = 200;
  answer.reason = "OK";
  answer.type = png ? "image/png" : "image/bmp";
  answer.file = &body;
  answer.headOnly = headOnly;
  writeAnswer(sock, answer);
}

// The body of a POST, read whole into the first read's room: its span, or
// false after writing the answer that refuses it.
bool takeBody(int sock, const HttpRequest& request, FirstRead read, bool needed, TextSpan* body) {
  *body = {};
  if (request.contentLength.count == 0) {
    if (needed) writeText(sock, 411, "Length Required", "length required");
    return !needed;
  }
  const int length = contentLengthOf(request.contentLength.value, kScriptBodyMost);
  if (request.contentLength.count > 1 || length < 0 || request.bodyStart + length > read.capacity) {
    writeText(sock, 413, "Content Too Large", "body too large");
    return false;
  }
  if (!readBody(sock, request, read, length)) {
    writeText(sock, 408, "Request Timeout", "body not received");
    return false;
  }
  *body = {reinterpret_cast<const char*>(read.bytes) + request.bodyStart, length};
  return true;
}

void act(int sock, const ScriptRequest& script, TextSpan body, AnswerRoom room) {
  const ScriptActions* actions = scriptActions.load();
  char* out = reinterpret_cast<char*>(room.bytes);
  int status = 503;
  out[0] = '\0';
  if (script.kind == kScriptPress) {
    if (script.labelLength < 0) {
      status = 404;
    } else if (actions != nullptr && actions->press != nullptr) {
      status = actions->press(script.label, script.labelLength, out, room.size);
    }
  } else {
    const TextSpan value = formField(body, "value");
    if (script.sliderIndex < 0) {
      status = 404;
    } else if (value.text == nullptr) {
      status = 400;
    } else if (actions != nullptr && actions->moveSlider != nullptr) {
      status = actions->moveSlider(script.sliderIndex, value, out, room.size);
    }
  }
  if (out[0] == '\0') {
    const char* why = status == 404   ? "no such control"
                      : status == 400 ? "bad value"
                                      : "the panel did not act";
    snprintf(out, size_t(room.size), "{\"error\":\"%s\"}", why);
  }
  writeJson(sock, status, out, int(strlen(out)), false);
}

}  // namespace

ScriptRequest scriptRequestOf(const HttpRequest& request) {
  ScriptRequest script;
  const TextSpan path = request.path;
  if (!request.isHttp || path.text == nullptr) return script;
  if (spanEquals(path, kControlsPath)) {
    script.kind = kScriptControls;
  } else if (spanEquals(path, "/picture.bmp")) {
    script.kind = kScriptBmp;
  } else if (spanEquals(path, "/picture.png")) {
    script.kind = kScriptPng;
  } else if (startsWith(path, kButtonsPrefix, int(sizeof kButtonsPrefix) - 1)) {
    const int start = int(sizeof kButtonsPrefix) - 1;
    const int suffix = int(sizeof kPressSuffix) - 1;
    const int labelLength = path.length - start - suffix;
    if (labelLength < 1 ||
        memcmp(path.text + path.length - suffix, kPressSuffix, size_t(suffix)) != 0) {
      script.kind = kScriptUnknown;
      return script;
    }
    script.kind = kScriptPress;
    const TextSpan label{path.text + start, labelLength};
    script.labelLength = decodeSegment(label, script.label, int(sizeof script.label));
  } else if (startsWith(path, kSlidersPrefix, int(sizeof kSlidersPrefix) - 1)) {
    script.kind = kScriptSlider;
    const int start = int(sizeof kSlidersPrefix) - 1;
    script.sliderIndex = indexOf({path.text + start, path.length - start});
  } else if (startsWith(path, "/controls/", 10)) {
    script.kind = kScriptUnknown;
  }
  return script;
}

bool isScriptRequest(const HttpRequest& request) {
  const bool upgrade = spanHas(request.upgrade.value, "websocket") || request.key.count > 0;
  return !upgrade && scriptRequestOf(request).kind != kScriptNone;
}

void answerScript(int sock, const HttpRequest& request, FirstRead read, const Peer& peer,
                  AnswerRoom room) {
  const ScriptRequest script = scriptRequestOf(request);
  if (script.kind == kScriptUnknown) {
    writeText(sock, 404, "Not Found", "not found");
    return;
  }
  if (!request.headersComplete) {
    writeText(sock, 431, "Request Header Fields Too Large", "request headers too long");
    return;
  }
  const bool head = spanIs(request.method, "HEAD");
  const bool post = spanIs(request.method, "POST");
  if (isPost(script) != post || (!post && !head && !spanIs(request.method, "GET"))) {
    HttpAnswer answer = textAnswer(405, "Method Not Allowed", "method not allowed");
    snprintf(answer.extra, sizeof answer.extra, "Allow: %s\r\n",
             isPost(script) ? "POST" : "GET, HEAD");
    writeAnswer(sock, answer);
    return;
  }
  if (post) {
    const int refusal = checkLoginOrigin(request, peer.loopback);
    if (refusal != kOriginAccepted) {
      printf("Refused a script request: %s.\n", originRefusalText(refusal));
      writeText(sock, 403, "Forbidden", originRefusalText(refusal));
      return;
    }
  }
  if (accessKeyOn()) {
    int access = kAccessNone;
    const HttpAnswer refused = admitAnswer(request, read, peer, &access);
    if (refused.status != 0) {
      writeAnswer(sock, refused);
      return;
    }
    if (post && access != kAccessControl) {
      writeText(sock, 403, "Forbidden", "a view key may not press");
      return;
    }
  }
  if (room.bytes == nullptr || room.size < int(kControlMapSize)) {
    writeText(sock, 503, "Service Unavailable", "no room for the answer");
    return;
  }
  switch (script.kind) {
    case kScriptControls: answerControls(sock, room, head); return;
    case kScriptBmp:
    case kScriptPng: answerPicture(sock, room, script.kind == kScriptPng, head); return;
    default: {
      TextSpan body;
      if (takeBody(sock, request, read, script.kind == kScriptSlider, &body)) {
        act(sock, script, body, room);
      }
      return;
    }
  }
}
