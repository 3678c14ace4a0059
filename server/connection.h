// One thread per connection: handshake, the two-ping exchange, then streaming
// of the screen and hand-over of every received frame to the pointer parser.
#pragma once

#include <cstdint>

// The ping exchange ends this long after the 101 reply at the latest: a peer
// that never answers does not hold a slot. A browser answers at once.
constexpr int64_t kPingExchangeMillis = 5000;

// Connection thread body: arg is the entry of pendingTable (server/pending.h)
// whose whole request it answers. Ends with pthread_exit.
void* server_con(void* arg);
