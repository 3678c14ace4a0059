// A temporary folder of this process for the files a test or tool writes.
#pragma once

#include <string>

// A fresh file path in a temporary folder of this process (under TMPDIR
// when it is set, else /tmp), named panel-test-<pid>-XXXXXX. The folder and
// everything in it are removed when the process exits normally (a failed
// test case included); a forked child that exits leaves it alone. The first
// call also removes what killed runs left behind (removeStaleTempFolders).
std::string tempPath(const std::string& name);

// Removes this user's folders panel-<what>-<pid>-XXXXXX in the temporary
// folder whose process is gone: what a test or tool left when it was killed
// (the browser tests' harness names its folders the same way). Returns how
// many it removed.
int removeStaleTempFolders();
