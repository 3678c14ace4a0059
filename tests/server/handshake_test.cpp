// The value extractor and the opening handshake: the accept value, the 129-byte
// reply and the request headers as browsers (and odd clients) write them.
#include "server/handshake.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "door/http_request.h"
#include "server/extensions.h"
#include "server/key_value.h"

using namespace std::string_literals;

namespace {

// A cleared record whose rxbuf holds the request, as after a read.
std::unique_ptr<wssession> withRequest(const std::string& request) {
  auto record = std::make_unique<wssession>();
  memset(record.get(), 0, sizeof(wssession));
  memcpy(record->rxbuf, request.data(), std::min(request.size(), size_t(kRxBufSize)));
  return record;
}

// Reads the request in rxbuf once, as the connection does, and takes it in.
int takeRequest(wssession* record) {
  const int length = int(strnlen(reinterpret_cast<const char*>(record->rxbuf), kRxBufSize));
  return wsin(record, readHttpRequest(record->rxbuf, length));
}

const std::string kSampleRequest =
    "GET /chat HTTP/1.1\r\n"
    "Host: server.example.com\r\n"
    "Upgrade: websocket\r\n"
    "Connection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Origin: http://example.com\r\n"
    "Sec-WebSocket-Version: 13\r\n"
    "Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits\r\n"
    "\r\n";

}  // namespace

// The browser's request offers compression: the reply is the 129-byte one
// with the accepting line before its blank line.
TEST(Handshake, SampleKeyGivesTheKnownAcceptAndAcceptsTheOfferedCompression) {
  auto record = withRequest(kSampleRequest);
  EXPECT_EQ(takeRequest(record.get()), 1);
  EXPECT_STREQ(record->wsKey, "dGhlIHNhbXBsZSBub25jZQ==");
  EXPECT_EQ(record->wsVersion, 13);
  EXPECT_STREQ(record->wsExtensions, "permessage-deflate;client_max_window_bits");
  EXPECT_EQ(wsout(record.get()), 0);
  EXPECT_STREQ(record->wsAccept, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  const std::string expected =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: "
      "Upgrade\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
      "Sec-WebSocket-Extensions: permessage-deflate; server_no_context_takeover; "
      "client_no_context_takeover\r\n\r\n";
  EXPECT_EQ(record->deflateOn, kOfferAccepted);
  EXPECT_EQ(std::string(record->reply), expected);
  EXPECT_EQ(record->replyLen, int(expected.size()));
}

TEST(Handshake, RequestWithoutHeadersStillGetsA129ByteReply) {
  auto record = withRequest("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(takeRequest(record.get()), 0);
  EXPECT_STREQ(record->wsKey, "");
  EXPECT_EQ(record->wsVersion, 0);
  EXPECT_STREQ(record->wsExtensions, "");
  wsout(record.get());
  EXPECT_EQ(record->replyLen, 129);
  EXPECT_EQ(strlen(record->wsAccept), 28u);
}

TEST(Handshake, KeyGivenTwiceUsesTheFirst) {
  auto record = withRequest(
      "Sec-WebSocket-Key: first\r\n"
      "Sec-WebSocket-Key: second\r\n\r\n");
  takeRequest(record.get());
  EXPECT_STREQ(record->wsKey, "first");
}

TEST(Handshake, OverlongKeyIsCutToItsField) {
  auto record = withRequest("Sec-WebSocket-Key: " + std::string(40, 'k') + "\r\n");
  takeRequest(record.get());
  EXPECT_EQ(std::string(record->wsKey), std::string(25, 'k'));
  wsout(record.get());
  EXPECT_EQ(record->replyLen, 129);
}

TEST(Handshake, VersionThatIsNotANumberIsZero) {
  auto record = withRequest("Sec-WebSocket-Version: thirteen\r\n");
  takeRequest(record.get());
  EXPECT_EQ(record->wsVersion, 0);
  auto huge = withRequest("Sec-WebSocket-Version: 99999999999999999999\r\n");
  takeRequest(huge.get());
  EXPECT_EQ(huge->wsVersion, INT32_MAX);
}

TEST(Handshake, RequestFillingTheWholeBufferIsReadWithinIt) {
  // No NUL anywhere in rxbuf; the key line runs to the buffer's last byte.
  std::string request = "Sec-WebSocket-Key: abc";
  request += std::string(kRxBufSize - request.size(), 'z');
  auto record = withRequest(request);
  takeRequest(record.get());
  EXPECT_EQ(std::string(record->wsKey), "abc" + std::string(22, 'z'));
}

TEST(StrVal, ScanStopsAtTheGivenLengthAndAtANul) {
  char text[] = "a: one\0b: two";
  char dst[16] = {};
  EXPECT_EQ(strval(text, "b:", dst, sizeof text, sizeof dst), 0);
  char cut[] = "key: value\r\n";
  EXPECT_EQ(strval(cut, "key:", dst, 7, sizeof dst), 1);
  EXPECT_STREQ(dst, "va");
  EXPECT_STREQ(cut, "       lue\r\n");
  char shortText[] = "ke";
  EXPECT_EQ(strval(shortText, "key:", dst, sizeof shortText, sizeof dst), 0);
}

TEST(StrVal, KeyIsFoundAnywhereAndValueSpacesAreDropped) {
  char text[] = "xxmouse_X: 1 2\t3\nmouse_Y: 9\n";
  char dst[16] = {};
  EXPECT_EQ(strval(text, "mouse_X:", dst, sizeof text, sizeof dst), 1);
  EXPECT_STREQ(dst, "12\t3");
  char y[16] = {};
  EXPECT_EQ(strval(text, "mouse_Y:", y, sizeof text, sizeof y), 1);
  EXPECT_STREQ(y, "9");
}

TEST(StrVal, LineLongerThan255CharactersIsConsumedWholeAndNeverOverrunsDst) {
  // The value starts after 300 characters of the line: a narrow index would
  // wrap and rescan the key's start.
  const std::string line = "key:" + std::string(300, 'x') + " " + std::string(300, 'v');
  std::string text = line + "\nend";
  char area[16];
  memset(area, 0, 8);
  memset(area + 8, '#', 8);
  EXPECT_EQ(strval(text.data(), "key:", area, text.size(), 8), 1);
  EXPECT_EQ(std::string(area, 16), "vvvvvvv\0########"s);
  EXPECT_EQ(text, std::string(line.size(), ' ') + "\nend");
  char again[8] = {};
  EXPECT_EQ(strval(text.data(), "key:", again, text.size(), sizeof again), 0);
}

TEST(StrVal, ZeroSizedDestinationReceivesNothing) {
  char text[] = "key: value\n";
  char dst[2] = {'#', '#'};
  EXPECT_EQ(strval(text, "key:", dst, sizeof text, 0), 1);
  EXPECT_EQ(dst[0], '#');
  EXPECT_EQ(strval(text, "", dst, sizeof text, sizeof dst), 0);
}

// The change stream's subprotocol is confirmed only when offered by name;
// every other request gets exactly the reply it got before. Header names in
// any case and values with or without spaces or tabs around them are read
// alike (some proxies and libraries write them so).
TEST(Handshake, ChangeStreamIsConfirmedOnlyWhenOfferedByName) {
  const std::string head =
      "GET / HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
  const std::string lowerHead =
      "GET / HTTP/1.1\r\nhost: h\r\nupgrade: websocket\r\nconnection: upgrade\r\n"
      "sec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\nsec-websocket-version: 13\r\n";
  const std::string gluedHead =
      "GET / HTTP/1.1\r\nHost:h\r\nUpgrade:websocket\r\nConnection:Upgrade\r\n"
      "Sec-WebSocket-Key:dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version:13\r\n";
  const std::string accept =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: "
      "Upgrade\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n";
  const std::string deflateLine =
      "Sec-WebSocket-Extensions: permessage-deflate; server_no_context_takeover; "
      "client_no_context_takeover\r\n";
  const std::string protocolLine = "Sec-WebSocket-Protocol: panel-changes-v1\r\n";
  const std::string controlsLine = "Sec-WebSocket-Protocol: panel-controls-v1\r\n";
  const std::string deflateOffer = "Sec-WebSocket-Extensions: permessage-deflate\r\n";
  struct Case {
    std::string request;
    std::string reply;
    uint8_t changesOn;
    uint8_t controlsOn = 0;
  };
  const Case cases[] = {
      {head, accept + "\r\n", 0},
      {head + deflateOffer, accept + deflateLine + "\r\n", 0},
      {head + "Sec-WebSocket-Protocol: panel-changes-v1\r\n", accept + protocolLine + "\r\n", 255},
      {head + deflateOffer + "Sec-WebSocket-Protocol: chat, panel-changes-v1\r\n",
       accept + deflateLine + protocolLine + "\r\n", 255},
      {head + "Sec-WebSocket-Protocol: panel-changes-v2\r\n", accept + "\r\n", 0},
      {head + "Sec-WebSocket-Protocol: panel-changes-v1x,panel-changes\r\n", accept + "\r\n", 0},
      {head + "Sec-WebSocket-Protocol: " + std::string(140, 'a') + ",panel-changes-v1\r\n",
       accept + "\r\n", 0},
      {lowerHead + "sec-websocket-extensions: permessage-deflate\r\n" +
           "sec-websocket-protocol: panel-changes-v1\r\n",
       accept + deflateLine + protocolLine + "\r\n", 255},
      {gluedHead + "Sec-WebSocket-Extensions:permessage-deflate\r\n" +
           "Sec-WebSocket-Protocol:chat,panel-changes-v1\r\n",
       accept + deflateLine + protocolLine + "\r\n", 255},
      {lowerHead + "SEC-WEBSOCKET-PROTOCOL:\t panel-changes-v1 \t\r\n",
       accept + protocolLine + "\r\n", 255},
      // The control map brings the change stream with it, in either order.
      {head + "Sec-WebSocket-Protocol: panel-controls-v1, panel-changes-v1\r\n",
       accept + controlsLine + "\r\n", 255, 255},
      {head + deflateOffer + "Sec-WebSocket-Protocol: panel-changes-v1,panel-controls-v1\r\n",
       accept + deflateLine + controlsLine + "\r\n", 255, 255},
      {head + "Sec-WebSocket-Protocol: panel-controls-v1\r\n", accept + controlsLine + "\r\n", 255,
       255},
      {head + "Sec-WebSocket-Protocol: panel-controls-v2, panel-changes-v1\r\n",
       accept + protocolLine + "\r\n", 255, 0},
      {head + "Sec-WebSocket-Protocol: panel-controls\r\n", accept + "\r\n", 0, 0},
  };
  for (const Case& c : cases) {
    auto record = withRequest(c.request + "\r\n");
    takeRequest(record.get());
    wsout(record.get());
    EXPECT_EQ(std::string(record->reply, size_t(record->replyLen)), c.reply) << c.request;
    EXPECT_EQ(record->changesOn, c.changesOn) << c.request;
    EXPECT_EQ(record->controlsOn, c.controlsOn) << c.request;
  }
  EXPECT_EQ(int(accept.size()) + 2, kReplyLength);
}
