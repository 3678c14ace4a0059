// Helpers shared by the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/peer/bmp_writer.h"
#include "tools/peer/temp_path.h"

// Writes the picture to a temporary file and loads it into the frame buffer
// (under BMPmutex); returns the loader's result. The report goes to stdout.
int loadPicture(const std::vector<uint8_t>& bytes);
// Loads a plain picture of the given size (24 bits, 40-byte header, black).
int loadBlankPicture(int32_t width = 640, int32_t height = 480);

// Runs a command through the shell; returns its exit status and stores what it
// printed on standard output.
int runCommand(const std::string& command, std::string* output);

// Colour of a frame-buffer pixel as 0xRRGGBB, read without the clip (asserts
// inside the picture).
uint32_t pixelColour(int32_t x, int32_t y);

// Runs panel-key on the file (with --view for a view key); returns the key
// it printed, or "" when it failed.
std::string makeAccessKey(const std::string& file, bool view = false);
