// The listening socket, the five client slots and the listener thread.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <cstdint>

extern int32_t wsport;  // set from "-p"; only its low 16 bits are used
extern int32_t listener;
extern sockaddr_in svr_addr;
extern pthread_t hlistenWSprocess;

// 0 listening; -1 no socket ("not socket."), -2 bind failed ("error bind."),
// -3 listen failed ("error listen."), -4 lock not created.
int startWSserver();
// Listener thread body.
void* serverWSlisten(void* arg);
