// The screen message: the whole BMP file image as one unmasked binary frame,
// compressed for a connection that accepted compression, and built only when
// the picture differs from what that connection was sent last.
#pragma once

#include <cstdint>

#include "server/records.h"

// Frame length placed in txbuf (header plus payload) when the picture changed
// since this buffer's last frame, else 0. Nothing before any connection has
// reached streaming (flagNew 0). The copy counts as sent once the frame is
// built: a frame that does not go out whole (any wssWr result other than its
// length) must end the connection, as the peer's byte stream is then broken.
// Compares the whole picture with the copy in txbuf.
int wsscreen(uint8_t* txbuf);

// The screen message for one connection, in record->txbuf: its length when
// there is one to send, else 0, with wsscreen's rules. The first call after
// record->sentVersion was set to 0 always builds one. Only the area drawn
// since the last look is compared, once for all connections; the message
// body is the picture, or for a connection with deflateOn its compressed
// form, made once for every such connection. An idle call takes no lock.
int screenFrame(wssession* record);
