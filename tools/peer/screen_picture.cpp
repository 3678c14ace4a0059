#include "tools/peer/screen_picture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "graphics/framebuffer.h"
#include "tools/peer/bmp_writer.h"

void loadBenchPicture(const std::vector<uint8_t>& bytes) {
  char path[] = "/tmp/panel-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || !writeBytes(path, bytes)) {
    fprintf(stderr, "bench: cannot write a picture\n");
    exit(1);
  }
  close(fd);
  // The load report goes to standard output; keep it out of the results.
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  if (!freopen("/dev/null", "w", stdout)) exit(1);
  const int result = dumpBMPinit(path);
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  unlink(path);
  if (result != kLoadOk) {
    fprintf(stderr, "bench: the picture did not load (%d)\n", result);
    exit(1);
  }
}

void loadScreenPicture() {
  static bool loaded = false;
  if (loaded) return;
  loadBenchPicture(makeBmp(BmpLayout{}, calmBackground));
  loaded = true;
}
