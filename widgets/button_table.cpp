// The button table. Kept apart from the drawing so the pointer parser can
// raise its flag without pulling in the widgets' looks.
#include <cstring>

#include "widgets/buttons.h"
#include "widgets/widget_pointer.h"

buttontable buttons;

void buttonsINIT() {
  // Connection threads may already be raising the flag (browsers can connect
  // before the panel is built), so that byte is cleared through its atomic and
  // everything else byte-wise.
  buttons.count = 0;
  pointerEventClear(buttons.pointerEvent);
  memset(buttons.item, 0, sizeof buttons.item);
}
