// The listening socket, the five client slots and the listener thread.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <cstdint>

extern int32_t wsport;  // set from "-p"; only its low 16 bits are used
extern int32_t listener;
extern sockaddr_in svr_addr;
extern pthread_t hlistenWSprocess;

// The hand-over of a new connection: the listener raises handoverPending
// before it creates the thread and waits on handoverTaken until the thread
// has copied wsserver, so sock and slotIndex hold one hand-over at a time.
// Both guarded by serverWSmutex.
extern bool handoverPending;
extern pthread_cond_t handoverTaken;

// 0 listening; -1 no socket ("not socket."), -2 bind failed ("error bind."),
// -3 listen failed ("error listen."), -4 lock not created.
int startWSserver();
// Listener thread body.
void* serverWSlisten(void* arg);
// A thread's copy of work, taken under serverWSmutex.
uint8_t workCopy();
// Clears work under serverWSmutex: the listener and every connection end at
// the end of their current turn.
void stopWSserver();
