// The scripting interface's rows and their handlers. The control map and
// the pictures are copied under their own locks into the connection's
// answer room; a press or a slider move is the panel's own work
// (ScriptActions), so it reaches the panel exactly as a finger's does.
#include "server/scripting.h"

#include <cstdio>
#include <cstring>

#include "door/http_answer.h"
#include "graphics/framebuffer.h"
#include "server/picture_png.h"
#include "widgets/control_map.h"

std::atomic<const ScriptActions*> scriptActions{nullptr};

namespace {

constexpr char kJsonType[] = "application/json";
constexpr char kPressSuffix[] = "/press";
constexpr int kIndexDigitsMost = 4;

// The connection thread's room, and the body its answer points at.
thread_local AnswerRoom answerRoom;
thread_local EmbeddedFile answerBody;

const char* reasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    default: return "Service Unavailable";
  }
}

// An answer whose body is `length` bytes of the room.
HttpAnswer roomAnswer(int status, const char* type, int length, bool headOnly) {
  HttpAnswer answer;
  answer.status = status;
  answer.reason = reasonOf(status);
  answer.type = type;
  answerBody = {answerRoom.bytes, length};
  answer.file = &answerBody;
  answer.headOnly = headOnly;
  return answer;
}

bool roomReady() {
  return answerRoom.bytes != nullptr && answerRoom.size >= int(kControlMapSize);
}

HttpAnswer noRoom() {
  return textAnswer(503, "Service Unavailable", "no room for the answer");
}

// GET /controls: the published control map, copied whole.
HttpAnswer controlsRoute(const RouteCall& call) {
  if (!roomReady()) return noRoom();
  uint32_t version = 0;
  const int length =
      copyControlMap(reinterpret_cast<char*>(answerRoom.bytes), size_t(answerRoom.size), &version);
  if (length < 0) return textAnswer(503, "Service Unavailable", "control map not available");
  return roomAnswer(200, kJsonType, length, call.head);
}

// The picture as it stands, copied (the BMP) or encoded (the PNG) under the
// frame buffer's lock, then sent without it.
HttpAnswer pictureAnswer(bool png, bool headOnly) {
  // A picture needs a streaming slot's room: its transmit buffer, and its
  // compressor memory for the PNG.
  if (!roomReady() || answerRoom.slot < 0) return noRoom();
  int length = 0;
  {
    FrameLock lock;
    if (png) {
      length = pictureToPng(answerRoom.slot, answerRoom.bytes, answerRoom.size);
    } else {
      const uint32_t size = bmpFileSize();
      length = size == 0                          ? kPngNoPicture
               : size > uint32_t(answerRoom.size) ? kPngTooLarge
                                                  : int(size);
      if (length > 0) memcpy(answerRoom.bytes, BMP_DUMP, size);
    }
  }
  if (length == kPngNoPicture) return textAnswer(503, "Service Unavailable", "no picture loaded");
  if (length == kPngUnsupported) {
    return textAnswer(501, "Not Implemented", "no PNG of this picture's bit depth");
  }
  if (length < 0) return textAnswer(503, "Service Unavailable", "picture could not be made");
  return roomAnswer(200, png ? "image/png" : "image/bmp", length, headOnly);
}

HttpAnswer bmpRoute(const RouteCall& call) {
  return pictureAnswer(false, call.head);
}

HttpAnswer pngRoute(const RouteCall& call) {
  return pictureAnswer(true, call.head);
}

// The JSON answer of an action: its own body, or an error object.
HttpAnswer actionAnswer(int status) {
  char* out = reinterpret_cast<char*>(answerRoom.bytes);
  if (status != 200) {
    const char* why = status == 404   ? "no such control"
                      : status == 400 ? "bad value"
                                      : "the panel did not act in time";
    snprintf(out, size_t(answerRoom.size), "{\"error\":\"%s\"}", why);
  }
  return roomAnswer(status, kJsonType, int(strlen(out)), false);
}

HttpAnswer pressRoute(const RouteCall& call) {
  if (!roomReady()) return noRoom();
  char label[kScriptLabelMost + 1];
  const int length = pressLabelOf(call.rest, label);
  if (length < 0) return textAnswer(404, "Not Found", "not found");
  const ScriptActions* actions = scriptActions.load();
  char* out = reinterpret_cast<char*>(answerRoom.bytes);
  out[0] = '\0';
  const int status = actions != nullptr && actions->press != nullptr
                         ? actions->press(label, length, out, answerRoom.size)
                         : 503;
  return actionAnswer(status);
}

HttpAnswer sliderRoute(const RouteCall& call) {
  if (!roomReady()) return noRoom();
  const int index = sliderIndexOf(call.rest);
  const TextSpan value = formField(call.body, "value");
  const ScriptActions* actions = scriptActions.load();
  char* out = reinterpret_cast<char*>(answerRoom.bytes);
  out[0] = '\0';
  int status = 503;
  if (index < 0) {
    status = 404;
  } else if (value.text == nullptr) {
    status = 400;
  } else if (actions != nullptr && actions->moveSlider != nullptr) {
    status = actions->moveSlider(index, value, out, answerRoom.size);
  }
  return actionAnswer(status);
}

constexpr Route kScriptRoutes[] = {
    {.path = "/controls", .access = RouteAccess::kRead, .handler = controlsRoute},
    {.path = "/picture.bmp", .access = RouteAccess::kRead, .handler = bmpRoute},
    {.path = "/picture.png", .access = RouteAccess::kRead, .handler = pngRoute},
    {.method = "POST",
     .path = "/controls/buttons/*",
     .origin = RouteOrigin::kStrict,
     .access = RouteAccess::kPress,
     .refused = "script request",
     .handler = pressRoute},
    {.method = "POST",
     .path = "/controls/sliders/*",
     .origin = RouteOrigin::kStrict,
     .access = RouteAccess::kPress,
     .bodyMost = kScriptBodyMost,
     .refused = "script request",
     .handler = sliderRoute},
};

}  // namespace

std::span<const Route> scriptRoutes() {
  return kScriptRoutes;
}

bool scriptPath(TextSpan path) {
  const auto startsWith = [path](const char* prefix) {
    const int length = int(strlen(prefix));
    return path.length >= length && memcmp(path.text, prefix, size_t(length)) == 0;
  };
  return startsWith("/controls") || startsWith("/picture.");
}

void useAnswerRoom(AnswerRoom room) {
  answerRoom = room;
}

int pressLabelOf(TextSpan rest, char* out) {
  const int suffix = int(sizeof kPressSuffix) - 1;
  const int length = rest.length - suffix;
  if (length < 1 || memcmp(rest.text + length, kPressSuffix, size_t(suffix)) != 0) return -1;
  return pathDecode({rest.text, length}, out, kScriptLabelMost + 1);
}

int sliderIndexOf(TextSpan rest) {
  if (rest.length < 1 || rest.length > kIndexDigitsMost) return -1;
  int value = 0;
  for (int i = 0; i < rest.length; ++i) {
    if (rest.text[i] < '0' || rest.text[i] > '9') return -1;
    value = value * 10 + (rest.text[i] - '0');
  }
  return value;
}
