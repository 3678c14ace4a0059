// A temporary folder of this process for the files a test or tool writes.
#pragma once

#include <string>

// A fresh file path in a temporary folder of this process (under TMPDIR
// when it is set, else /tmp). The folder and
// everything in it are removed when the process exits normally (a failed
// test case included); a forked child that exits leaves it alone.
std::string tempPath(const std::string& name);
