// One thread per connection: handshake, the two-ping exchange, then streaming
// of the screen and hand-over of every received frame to the pointer parser.
#pragma once

// Connection thread body; ends with pthread_exit.
void* server_con(void* arg);
