// The panel's side of the scripting interface (server/scripting.h): a press
// of a button named by its label and a slider moved to a value, each done
// the way the panel takes a finger's, and answered once done. The controls
// are found in the published control map, so no widget table is read off
// the control loop's thread.
#pragma once

#include <cstdint>

#include "door/http_request.h"
#include "server/scripting.h"

// The longest a press or a slider move waits for the panel to act.
constexpr int64_t kScriptWaitMs = 1000;

// What a script needs of a control, found in the control map's text.
struct MapControl {
  int index = -1;
  int32_t x = 0, y = 0, w = 0, h = 0;
  int32_t min = 0, max = 0;     // sliders
  const char* entry = nullptr;  // the control's object in the map text
  int entryLength = 0;
};

// The first button whose label, JSON-unescaped, is exactly the `length`
// bytes of `label`; false when none is.
bool findMapButton(const char* map, const char* label, int length, MapControl* found);
// The slider of that index; false when there is none.
bool findMapSlider(const char* map, int index, MapControl* found);
// A form value as a slider value: an optional minus and 1 to 6 digits,
// between min and max (either way round); false otherwise.
bool sliderValueOf(TextSpan value, int32_t min, int32_t max, int32_t* out);

// The actions main hands to the scripting interface.
extern const ScriptActions kPanelScriptActions;
