#include "tools/peer/proc_stats.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/peer/clock.h"

namespace {

// Entries of a folder other than "." and "..".
int entries(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) count++;
  }
  closedir(dir);
  return count;
}

}  // namespace

int openDescriptors(pid_t pid) {
  return entries("/proc/" + std::to_string(pid) + "/fd");
}

int threadCount(pid_t pid) {
  return entries("/proc/" + std::to_string(pid) + "/task");
}

long residentKib(pid_t pid) {
  FILE* file = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (!file) return -1;
  long kib = -1;
  char line[256];
  while (fgets(line, sizeof line, file)) {
    if (strncmp(line, "VmRSS:", 6) == 0) {
      kib = strtol(line + 6, nullptr, 10);
      break;
    }
  }
  fclose(file);
  return kib;
}

ProcessCounts processCounts(pid_t pid) {
  return {openDescriptors(pid), threadCount(pid)};
}

bool settlesTo(pid_t pid, ProcessCounts limit, int timeoutMs, ProcessCounts* seen) {
  constexpr int kStepMs = 50;
  return eventually(
      [&] {
        *seen = processCounts(pid);
        return seen->descriptors >= 0 && seen->descriptors <= limit.descriptors &&
               seen->threads >= 0 && seen->threads <= limit.threads;
      },
      timeoutMs, kStepMs);
}

long cpuTicks(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(')');
  if (end == std::string::npos) return -1;
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  long utime = 0, stime = 0;
  // Fields after the name start at the state (field 3); utime is 14, stime 15.
  for (int index = 3; index <= 15 && fields >> field; index++) {
    if (index == 14) utime = atol(field.c_str());
    if (index == 15) stime = atol(field.c_str());
  }
  return utime + stime;
}
