#include "tools/peer/temp_path.h"

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

constexpr int kOpenFoldersMost = 16;  // folders nftw keeps open while it walks

std::string folder;  // made at the first tempPath call
pid_t maker = 0;     // the process that made it: a forked child leaves it alone

int removeEntry(const char* path, const struct stat*, int, FTW*) {
  remove(path);
  return 0;  // go on: remove what can be removed
}

// Removes the folder and all it holds when the process that made it exits.
void removeFolder() {
  if (getpid() != maker) return;
  nftw(folder.c_str(), removeEntry, kOpenFoldersMost, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

std::string tempPath(const std::string& name) {
  if (folder.empty()) {
    // The system's temporary folder, or the one TMPDIR names.
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/panel-test-XXXXXX";
    if (!mkdtemp(pattern.data())) return pattern + "-unmade/" + name;
    folder = pattern;
    maker = getpid();
    atexit(removeFolder);
  }
  return folder + "/" + name;
}
