// The demonstration panel.
#include "app/panel.h"

int32_t R, G, B;
