// The kinds of widget, as one list: the control loop polls them in its
// order (buttons, then sliders) and sleeps until the soonest look one of
// them asks for, the pointer raises each kind's flag, and the control map
// has one array per kind. A new kind of widget is one more row here.
#pragma once

#include <cstdint>

#include "widgets/buttons.h"
#include "widgets/control_map.h"
#include "widgets/sliders.h"
#include "widgets/widget_pointer.h"

enum class WidgetKindId : uint8_t { kButton, kSlider };

struct WidgetKind {
  WidgetKindId id;
  const char* mapName;  // its array in the control map
  // One poll with the pointer and the time now; the records whose value the
  // pointer moved, one bit each (bit i: item[i]).
  uint32_t (*poll)(const PointerState& pointer, int64_t nowMs);
  // Milliseconds until a poll is due for time alone, or kNoLookDue.
  uint32_t (*nextLook)(int64_t nowMs);
  // The table's pointerEvent flag, raised by every report with a position.
  uint8_t* pointerEvent;
  // Appends the used records to the map, in table order.
  void (*describe)(MapText& text);
};

static_assert(kMaxButtons <= 32 && kMaxSliders <= 32, "one bit per record in a poll's result");

inline constexpr WidgetKind kWidgetKinds[] = {
    {WidgetKindId::kButton, "buttons",
     [](const PointerState& pointer, int64_t nowMs) -> uint32_t {
       buttonsPoll(pointer, nowMs);
       return 0;  // a button has no value: its action is what it does
     },
     buttonsNextLook, &buttons.pointerEvent, describeButtons},
    {WidgetKindId::kSlider, "sliders",
     [](const PointerState& pointer, int64_t) { return slidersPoll(pointer); },
     [](int64_t) { return kNoLookDue; }, &sliders.pointerEvent, describeSliders},
};
