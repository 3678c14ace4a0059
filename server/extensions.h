// The Sec-WebSocket-Extensions offer of an upgrade request, read for the one
// extension the server speaks: per-message DEFLATE. Every message the server
// sends stands alone (server_no_context_takeover) and so must every message
// the browser sends (client_no_context_takeover), so one compressed picture
// serves every viewer and a connection keeps no compression history.
//
// The offer list is read as the request carries it, with the spaces removed:
// offers separated by commas, each an extension name and parameters after
// semicolons, a parameter with or without a value, a value plain or quoted.
// The first offer of the extension that the server can honour is taken; an
// offer with an unknown, repeated or malformed parameter is declined and the
// next one looked at. A request without an offer it can honour gets the
// plain reply.
#pragma once

#include <cstddef>

// Results of chooseDeflateOffer.
constexpr int kOfferNone = 0;      // nothing accepted: the plain reply
constexpr int kOfferAccepted = 1;  // accepted
// Accepted, and the offer limited the server's window to the 15 bits it
// uses, which the reply must then confirm.
constexpr int kOfferAcceptedWindow15 = 2;

// Reads the first `length` bytes of the offer list (stopping at a NUL).
int chooseDeflateOffer(const char* offers, size_t length);

// Puts the accepting header line for `terms` (a result above kOfferNone)
// before the blank line that ends the reply of replyLen bytes in reply (of
// replySize bytes); the new length, or replyLen unchanged when terms accept
// nothing or the line would not fit.
int addAcceptedExtension(char* reply, int replyLen, size_t replySize, int terms);
// Puts one header line (without its CR LF) before the blank line that ends
// the reply of replyLen bytes in reply (of replySize bytes); the new length,
// or replyLen unchanged when the line would not fit.
int addReplyLine(char* reply, int replyLen, size_t replySize, const char* line);
