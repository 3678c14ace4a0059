// The screen message: the whole BMP file image as one unmasked binary frame,
// built in a connection's transmit buffer only when the picture differs from
// the copy that connection was sent last.
#pragma once

#include <cstdint>

// Frame length placed in txbuf (header plus payload) when the picture changed
// since this buffer's last frame, else 0. Nothing before any connection has
// reached streaming (flagNew 0). The copy counts as sent once the frame is
// built: a frame that does not go out whole (any wssWr result other than its
// length) must end the connection, as the peer's byte stream is then broken.
int wsscreen(uint8_t* txbuf);
