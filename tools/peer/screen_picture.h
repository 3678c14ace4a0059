// Loads the default screen picture into the frame buffer, for the benchmarks
// and the instruction counts.
#pragma once

#include <cstdint>

// Loads the default 640 x 480, 24-bit picture into the frame buffer (once per
// process; the load report is kept off the benchmark output).
void loadScreenPicture();
