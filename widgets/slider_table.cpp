// The slider table, apart from the drawing for the same reason as the buttons'.
#include <cstring>

#include "widgets/sliders.h"
#include "widgets/widget_pointer.h"

slidertable sliders;

void slidersINIT() {
  // The flag may be raised by a connection thread meanwhile, as for the buttons.
  sliders.count = 0;
  pointerEventClear(sliders.pointerEvent);
  memset(sliders.item, 0, sizeof sliders.item);
  sliders.dragging = 0;
  sliders.dragged = 0;
}
