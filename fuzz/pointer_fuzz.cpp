// Fuzzes the pointer-report parser with arbitrary payloads, in a buffer of
// exactly their length and without a terminating zero: it stays inside the
// bytes given, raises both pointerEvent flags exactly when both keys occur in
// the text before its first zero byte (the Y key counting only outside the
// line the X key starts, which its reading consumes) in a text without a
// button line, never raises them without both keys, and moves the press
// position only together with the flags.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/pointer.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > size_t(INT32_MAX)) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data),
                              strnlen(reinterpret_cast<const char*>(data), size));
  const size_t xAt = text.find("mouse_X:");
  const bool hasX = xAt != std::string_view::npos;
  std::string rest(text);
  if (hasX) {
    const size_t lineEnd = rest.find_first_of("\r\n", xAt);
    rest.replace(xAt, (lineEnd == std::string::npos ? rest.size() : lineEnd) - xAt,
                 (lineEnd == std::string::npos ? rest.size() : lineEnd) - xAt, ' ');
  }
  const bool hasY = rest.find("mouse_Y:") != std::string::npos;
  // A button line may make the report a move or a lift, which press nothing.
  const bool hasButton = text.find("mouse_button:") != std::string_view::npos;

  std::vector<char> payload(data, data + size);
  constexpr int32_t kBefore = -7;  // left alone unless the report presses
  mX = kBefore;
  mY = kBefore;
  buttons.pointerEvent = 0;
  sliders.pointerEvent = 0;
  wsworkfunc(payload.data(), int(size));

  const bool raised = buttons.pointerEvent == 255;
  if (sliders.pointerEvent != buttons.pointerEvent) abort();
  if (raised ? !(hasX && hasY) : (hasX && hasY && !hasButton)) abort();
  if (!raised && (mX.load() != kBefore || mY.load() != kBefore)) abort();
  return 0;
}
