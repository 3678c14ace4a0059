// A temporary folder of this process for the files a test or tool writes.
#pragma once

#include <string>

// A fresh file path in a temporary folder of this process.
std::string tempPath(const std::string& name);
