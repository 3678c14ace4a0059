// Loads the default screen picture, or any other, into the frame buffer, for
// the benchmarks and the instruction counts.
#pragma once

#include <cstdint>
#include <vector>

// Loads the default 640 x 480, 24-bit picture into the frame buffer (once per
// process; the load report is kept off the benchmark output).
void loadScreenPicture();
// Loads the file image into the frame buffer, the load report kept off the
// output; exits with a message when it cannot.
void loadBenchPicture(const std::vector<uint8_t>& bytes);
