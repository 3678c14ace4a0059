#include "tools/peer/temp_path.h"

#include <stdlib.h>

std::string tempPath(const std::string& name) {
  static std::string folder;
  if (folder.empty()) {
    char pattern[] = "/tmp/panel-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    folder = made ? made : "/tmp";
  }
  return folder + "/" + name;
}
