// Frame-buffer start-up and the idle frame-buffer thread.
#include <unistd.h>

#include <cstdio>

#include "graphics/framebuffer.h"

int dumpBMPinit(const char* fileName) {
  FrameLock lock;
  return BMP_FileAnalise(fileName);
}

int bmpfilework(const char* fileName) {
  // BMPmutex is created with default attributes by its static initialiser.
  const int result = dumpBMPinit(fileName);
  pthread_create(&thBMP, nullptr, bmpredraw, const_cast<char*>(fileName));
  return result;
}

void* bmpredraw(void*) {
  printf("starting loop redraw.....\r\n");
  // Sleeps until a signal, and again after it: never woken by a timer.
  for (;;) pause();
  return nullptr;
}
