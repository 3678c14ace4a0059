#include "tools/peer/temp_path.h"

#include <dirent.h>
#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

// The system's temporary folder, or the one TMPDIR names.
std::string baseFolder() {
  const char* base = getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

// The owner's pid of a name panel-<what>-<pid>-XXXXXX, or 0 for any other name.
pid_t ownerOf(const char* name) {
  const size_t length = strlen(name);
  constexpr size_t kSuffix = 7;  // "-XXXXXX"
  if (strncmp(name, "panel-", 6) != 0 || length < 6 + 2 + kSuffix ||
      name[length - kSuffix] != '-') {
    return 0;
  }
  size_t start = length - kSuffix;
  while (start > 6 && name[start - 1] >= '0' && name[start - 1] <= '9') start--;
  if (start == length - kSuffix || name[start - 1] != '-' || length - kSuffix - start > 9) return 0;
  return pid_t(atol(name + start));
}

}  // namespace

int removeStaleTempFolders() {
  const std::string base = baseFolder();
  DIR* listing = opendir(base.c_str());
  if (!listing) return 0;
  int removed = 0;
  while (const dirent* entry = readdir(listing)) {
    const pid_t owner = ownerOf(entry->d_name);
    if (owner <= 0 || (kill(owner, 0) == 0 || errno != ESRCH)) continue;
    const std::string path = base + "/" + entry->d_name;
    struct stat info = {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
      continue;
    }
    nftw(path.c_str(), removeEntry, kOpenFoldersMost, FTW_DEPTH | FTW_PHYS);
    removed++;
  }
  closedir(listing);
  return removed;
}

std::string tempPath(const std::string& name) {
  if (folder.empty()) {
    removeStaleTempFolders();
    std::string pattern = baseFolder() + "/panel-test-" + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(pattern.data())) return pattern + "-unmade/" + name;
    folder = pattern;
    maker = getpid();
    atexit(removeFolder);
  }
  return folder + "/" + name;
}
