// The server's shared records and flags.
#include "server/records.h"

std::atomic<uint8_t> work{0};
pthread_mutex_t serverWSmutex = PTHREAD_MUTEX_INITIALIZER;
wsclients wsserver;
std::atomic<uint8_t> flagNew{0};
