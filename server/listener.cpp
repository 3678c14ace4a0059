// The listening socket and the listener thread.
#include "server/listener.h"

int32_t wsport;
int32_t listener;
sockaddr_in svr_addr;
pthread_t hlistenWSprocess;
