// The drawn-area record's state.
#include "graphics/drawn_area.h"

BmpDirtyArea bmpDirty = kBmpCleanArea;
std::atomic<bool> bmpWritten{false};
