// The listening socket, the five client slots and the listener thread.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <cstdint>

extern int32_t wsport;  // set from "-p"; only its low 16 bits are used
extern int32_t listener;
extern sockaddr_in svr_addr;
extern pthread_t hlistenWSprocess;

// Results of startWSserver.
constexpr int kListening = 0;
constexpr int kNoSocket = -1;      // "not socket."
constexpr int kBindFailed = -2;    // "error bind."
constexpr int kListenFailed = -3;  // "error listen."

// Opens the listening socket, sets work and starts the listener thread.
int startWSserver();
// Listener thread body.
void* serverWSlisten(void* arg);
