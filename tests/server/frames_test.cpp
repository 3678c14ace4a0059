// Frame decoding: results for every opcode, the three length forms, masked and
// plain payloads, several frames in one read, frames cut across reads, and
// lengths that lie about the bytes behind them.
#include "server/frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server/extensions.h"
#include "server/wire.h"
#include "tools/peer/ws_client.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Form { k7, k16, k64 };

constexpr uint8_t kKey[kMaskSize] = {0x37, 0xFA, 0x21, 0x3D};

// A frame as a browser sends it: FIN set unless told otherwise, masked with
// kKey unless told otherwise, the length in the smallest form or the one given.
Bytes frame(uint8_t opcode, const std::string& payload, bool masked = true, bool fin = true,
            Form form = Form::k7) {
  const uint64_t length = payload.size();
  if (form == Form::k7 && length > kMax7) form = length > kMax16 ? Form::k64 : Form::k16;
  Bytes bytes{uint8_t((fin ? kFinalBit : 0) | opcode)};
  const uint8_t mask = masked ? kMaskBit : 0;
  if (form == Form::k7) {
    bytes.push_back(uint8_t(mask | length));
  } else if (form == Form::k16) {
    bytes.insert(bytes.end(), {uint8_t(mask | kLength16), uint8_t(length >> 8), uint8_t(length)});
  } else {
    bytes.push_back(uint8_t(mask | kLength64));
    for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(uint8_t(length >> shift));
  }
  if (masked) bytes.insert(bytes.end(), kKey, kKey + 4);
  for (size_t k = 0; k < payload.size(); ++k) {
    bytes.push_back(uint8_t(payload[k]) ^ (masked ? kKey[k % 4] : 0));
  }
  return bytes;
}

std::unique_ptr<wssession> record() {
  auto made = std::make_unique<wssession>();
  memset(made.get(), 0, sizeof(wssession));
  return made;
}

// Decodes a frame that lies alone in the bytes given.
int decode(wssession* rec, const Bytes& bytes) {
  return wsdecode(rec, bytes.data(), int(bytes.size()));
}

std::string rdText() {
  return reinterpret_cast<const char*>(rdbuf);
}

bool rdbufClear() {
  for (uint8_t byte : rdbuf) {
    if (byte != 0) return false;
  }
  return true;
}

// Leaves something in rdbuf, so a test can see it cleared.
void dirtyRdbuf() {
  memset(rdbuf, 'z', sizeof rdbuf);
}

}  // namespace

TEST(FrameDecode, MaskedTextIsUnmaskedAndFollowedByZeros) {
  auto rec = record();
  dirtyRdbuf();
  EXPECT_GT(decode(rec.get(), frame(kOpText, "Hello")), 0);
  EXPECT_EQ(rdText(), "Hello");
  EXPECT_EQ(memcmp(rec->maskKey, kKey, 4), 0);
  for (int k = 5; k < kRdBufSize; ++k) ASSERT_EQ(rdbuf[k], 0) << k;
}

TEST(FrameDecode, SixteenBitLengthsMaskedAndPlain) {
  auto rec = record();
  const std::string payload(126, 'p');
  const Bytes masked = frame(kOpText, payload);
  ASSERT_EQ(masked[1], kMaskBit | kLength16);
  EXPECT_EQ(masked[2], 0);
  EXPECT_EQ(masked[3], 126);
  EXPECT_EQ(wsframeLength(masked.data(), int(masked.size())), 8 + 126);
  EXPECT_GT(decode(rec.get(), masked), 0);
  EXPECT_EQ(rdText(), payload);

  const std::string longer(1000, 'q');
  const Bytes plain = frame(kOpBinary, longer, false);
  EXPECT_EQ(wsframeLength(plain.data(), int(plain.size())), 4 + 1000);
  EXPECT_EQ(decode(rec.get(), plain), 0);
  EXPECT_EQ(rdText(), longer);
}

TEST(FrameDecode, PlainPayloadIsCopiedUnchanged) {
  auto rec = record();
  EXPECT_GT(decode(rec.get(), frame(kOpText, "mouse_X: 10\n", false)), 0);
  EXPECT_EQ(rdText(), "mouse_X: 10\n");
}

TEST(FrameDecode, EmptyTextIsPositiveWithRdbufClear) {
  auto rec = record();
  dirtyRdbuf();
  const Bytes empty = frame(kOpText, "");
  EXPECT_EQ(wsframeLength(empty.data(), int(empty.size())), 6);
  EXPECT_GT(decode(rec.get(), empty), 0);
  EXPECT_TRUE(rdbufClear());
}

TEST(FrameDecode, ControlAndOtherOpcodesGiveTheirResults) {
  auto rec = record();
  dirtyRdbuf();
  EXPECT_EQ(decode(rec.get(), frame(kOpClose, "\x03\xe8 bye")), kFrameClose);
  EXPECT_TRUE(rdbufClear());
  dirtyRdbuf();
  EXPECT_EQ(decode(rec.get(), frame(kOpPing, "ping")), 0);
  EXPECT_TRUE(rdbufClear());
  EXPECT_EQ(decode(rec.get(), frame(kOpPong, "Hello")), kFramePong);
  EXPECT_EQ(rdText(), "Hello");
  EXPECT_EQ(decode(rec.get(), frame(kOpBinary, "bin")), 0);
  EXPECT_EQ(rdText(), "bin");
  for (uint8_t opcode : {0, 3, 4, 5, 6, 7, 11, 12, 13, 14, 15}) {
    dirtyRdbuf();
    EXPECT_EQ(decode(rec.get(), frame(opcode, "data")), 0) << int(opcode);
    EXPECT_TRUE(rdbufClear()) << int(opcode);
  }
}

TEST(FrameDecode, FirstFragmentDecodesLikeAWholeMessage) {
  auto rec = record();
  EXPECT_GT(decode(rec.get(), frame(kOpText, "mouse_X: 1", true, false)), 0);
  EXPECT_EQ(rdText(), "mouse_X: 1");
  EXPECT_EQ(decode(rec.get(), frame(0, "00\n", true, true)), 0);
  EXPECT_TRUE(rdbufClear());
}

TEST(FrameSplit, TwoFramesInOneReadAreEachDecodedInOrder) {
  auto rec = record();
  Bytes read = frame(kOpText, "first");
  const Bytes second = frame(kOpPong, "Hello");
  read.insert(read.end(), second.begin(), second.end());
  const int firstLength = wsframeLength(read.data(), int(read.size()));
  ASSERT_EQ(firstLength, 11);
  EXPECT_GT(wsdecode(rec.get(), read.data(), firstLength), 0);
  EXPECT_EQ(rdText(), "first");
  const uint8_t* rest = read.data() + firstLength;
  const int restSize = int(read.size()) - firstLength;
  ASSERT_EQ(wsframeLength(rest, restSize), restSize);
  EXPECT_EQ(wsdecode(rec.get(), rest, restSize), kFramePong);
  EXPECT_EQ(rdText(), "Hello");
}

TEST(FrameSplit, FrameCutAnywhereNeedsMoreBytes) {
  for (const Bytes& whole : {frame(kOpText, "Hello"), frame(kOpText, std::string(300, 'x')),
                             frame(kOpText, std::string(300, 'x'), false)}) {
    for (int cut = 0; cut < int(whole.size()); ++cut) {
      ASSERT_EQ(wsframeLength(whole.data(), cut), 0) << cut;
    }
    EXPECT_EQ(wsframeLength(whole.data(), int(whole.size())), int(whole.size()));
  }
}

TEST(FrameSplit, LengthsThatCanNeverFitTheReceiveBufferAreRefused) {
  // Every 64-bit form, even one announcing a few bytes.
  const Bytes small64 = frame(kOpText, "Hi", true, true, Form::k64);
  EXPECT_EQ(wsframeLength(small64.data(), int(small64.size())), -1);
  EXPECT_EQ(wsframeLength(small64.data(), 2), -1);
  // A 16-bit length past the receive buffer, with only its header present.
  const Bytes oversize = {kFinalBit | kOpText, kMaskBit | kLength16, 0x07, 0xD0};
  EXPECT_EQ(wsframeLength(oversize.data(), int(oversize.size())), -1);
  // The largest frame that fits, and one byte more.
  const Bytes largest = frame(kOpText, std::string(kRxBufSize - 4, 'L'), false);
  EXPECT_EQ(wsframeLength(largest.data(), int(largest.size())), kRxBufSize);
  const Bytes tooLarge = frame(kOpText, std::string(kRxBufSize - 8 + 1, 'L'));
  EXPECT_EQ(wsframeLength(tooLarge.data(), 8), -1);
}

TEST(FrameDecode, LargestFrameLeavesANulAfterItsPayload) {
  auto rec = record();
  const Bytes largest = frame(kOpText, std::string(kRxBufSize - 4, 'L'), false);
  memcpy(rec->rxbuf, largest.data(), kRxBufSize);
  EXPECT_EQ(wsfunc(rec.get()), kRxBufSize);
  EXPECT_EQ(rdText(), std::string(kRxBufSize - 4, 'L'));
}

TEST(FrameDecode, LyingLengthsReadOnlyTheBytesPresent) {
  auto rec = record();
  // A text frame announcing 60,000 bytes, of which the read holds five.
  const uint8_t lying[] = {kFinalBit | kOpText, kLength16, 0xEA, 0x60, 'a', 'b', 'c', 'd', 'e'};
  EXPECT_GT(wsdecode(rec.get(), lying, sizeof lying), 0);
  EXPECT_EQ(rdText(), "abcde");
  // The same at the start of rxbuf: wsfunc reads within its 1,024 bytes.
  memset(rec->rxbuf, 'r', kRxBufSize);
  memcpy(rec->rxbuf, lying, 4);
  EXPECT_EQ(wsfunc(rec.get()), kRxBufSize);
  EXPECT_EQ(rdText(), std::string(kRxBufSize - 4, 'r'));
  // A pong in the 64-bit form keeps its result, with the payload present.
  const Bytes pong64 = frame(kOpPong, "Hello", true, true, Form::k64);
  memset(rec->rxbuf, 0, kRxBufSize);
  memcpy(rec->rxbuf, pong64.data(), pong64.size());
  EXPECT_EQ(wsfunc(rec.get()), kFramePong);
  EXPECT_EQ(rdText(), "Hello");
  // Headers cut short: nothing is read past them.
  EXPECT_GT(wsdecode(rec.get(), lying, 3), 0);
  EXPECT_TRUE(rdbufClear());
  EXPECT_EQ(wsdecode(rec.get(), lying, 0), 0);
}

TEST(FrameDecode, EachThreadDecodesIntoItsOwnRdbuf) {
  auto ours = record();
  auto theirs = record();
  decode(ours.get(), frame(kOpText, "mouse_X: 1"));
  std::string seenThere;
  std::thread other([&] {
    decode(theirs.get(), frame(kOpText, "mouse_X: 2"));
    seenThere = rdText();
  });
  other.join();
  EXPECT_EQ(seenThere, "mouse_X: 2");
  EXPECT_EQ(rdText(), "mouse_X: 1");
}

TEST(FrameSplit, ArbitraryBytesNeverGiveALengthPastThoseGiven) {
  auto rec = record();
  std::mt19937 random(7);
  uint8_t bytes[kRxBufSize];
  for (int round = 0; round < 20000; ++round) {
    const int available = int(random() % (kRxBufSize + 1));
    for (int i = 0; i < available; ++i) bytes[i] = uint8_t(random());
    const int length = wsframeLength(bytes, available);
    ASSERT_LE(length, available);
    ASSERT_GE(length, -1);
    wsdecode(rec.get(), bytes, length > 0 ? length : available);
    ASSERT_EQ(rdbuf[kRdBufSize - 1], 0);
  }
}

namespace {

Bytes bytesOf(std::initializer_list<int> values) {
  Bytes bytes;
  for (int value : values) bytes.push_back(uint8_t(value));
  return bytes;
}

Bytes closeWith(uint16_t code) {
  return {kFinalBit | kOpClose, 2, uint8_t(code >> 8), uint8_t(code)};
}

std::string twoBytes(uint16_t code, const std::string& reason = "") {
  return std::string{char(code >> 8), char(code & 0xFF)} + reason;
}

// A compressed frame as a client sends one: the first reserved bit on the
// given first byte, the body deflated.
Bytes compressed(uint8_t first, const std::string& payload) {
  const Bytes body = deflateBody(Bytes(payload.begin(), payload.end()));
  Bytes bytes = frame(first & kOpcodeBits, std::string(body.begin(), body.end()), true,
                      (first & kFinalBit) != 0);
  bytes[0] |= kFrameCompressed;
  return bytes;
}

// A compressed message in two frames: its body split after the first byte.
std::vector<Bytes> compressedInTwo(const std::string& payload) {
  const Bytes body = deflateBody(Bytes(payload.begin(), payload.end()));
  Bytes first = frame(kOpText, std::string(1, char(body[0])), true, false);
  first[0] |= kFrameCompressed;
  return {first, frame(kOpContinuation, std::string(body.begin() + 1, body.end()))};
}

}  // namespace

// Every frame a client may send, and what the connection is told to do: act
// on a message (whose text is checked), wait for more fragments, answer a
// ping, or end with a close frame (whose bytes are checked).
TEST(FrameRules, ControlFramesFragmentsAndProtocolErrors) {
  const std::string report = "mouse_X: 10\r\nmouse_Y: 20\r\n";
  const std::string half = std::string(kMessageMax / 2, 'h');
  struct Case {
    const char* what;
    uint8_t deflateOn;
    std::vector<Bytes> frames;
    std::vector<int8_t> steps;  // the step of each frame
    Bytes out;                  // the last frame's answer or close frame
    std::string message;        // the last message's text
  };
  const Case cases[] = {
      {"text", 0, {frame(kOpText, report)}, {kTakeMessage}, {}, report},
      {"pong", 0, {frame(kOpPong, "Hello")}, {kTakeMessage}, {}, "Hello"},
      {"ping answered with its payload",
       0,
       {frame(kOpPing, "hi")},
       {kTakeAnswer},
       bytesOf({0x8A, 2, 'h', 'i'}),
       ""},
      {"empty ping", 0, {frame(kOpPing, "")}, {kTakeAnswer}, bytesOf({0x8A, 0}), ""},
      {"unmasked ping",
       0,
       {frame(kOpPing, "u", false)},
       {kTakeAnswer},
       bytesOf({0x8A, 1, 'u'}),
       ""},
      {"ping of 126 bytes",
       0,
       {frame(kOpPing, std::string(126, 'p'))},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"fragmented ping",
       0,
       {frame(kOpPing, "p", true, false)},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"close without status", 0, {frame(kOpClose, "")}, {kTakeEnd}, bytesOf({0x88, 0}), ""},
      {"close 1000 with a reason",
       0,
       {frame(kOpClose, twoBytes(1000, "bye"))},
       {kTakeEnd},
       closeWith(kCloseNormal),
       ""},
      {"close 4000", 0, {frame(kOpClose, twoBytes(4000))}, {kTakeEnd}, closeWith(4000), ""},
      {"close of one byte",
       0,
       {frame(kOpClose, "x")},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"close 1005, never sent",
       0,
       {frame(kOpClose, twoBytes(1005))},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"close 999",
       0,
       {frame(kOpClose, twoBytes(999))},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"unknown data opcode",
       0,
       {frame(3, "data")},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"unknown control opcode",
       0,
       {frame(0xB, "data")},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"continuation first",
       0,
       {frame(kOpContinuation, "x")},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"report in three fragments",
       0,
       {frame(kOpText, "mouse_X: 1", true, false),
        frame(kOpContinuation, "0\r\nmouse_Y: 2", true, false), frame(kOpContinuation, "0\r\n")},
       {kTakeNothing, kTakeNothing, kTakeMessage},
       {},
       report},
      {"binary fragments with a ping between",
       0,
       {frame(kOpBinary, "mouse_X: 10\r\n", true, false), frame(kOpPing, "k"),
        frame(kOpContinuation, "mouse_Y: 20\r\n")},
       {kTakeNothing, kTakeAnswer, kTakeMessage},
       {},
       report},
      {"a message inside another",
       0,
       {frame(kOpText, "a", true, false), frame(kOpText, "b")},
       {kTakeNothing, kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"fragments up to the bound",
       0,
       {frame(kOpText, half, true, false), frame(kOpContinuation, half)},
       {kTakeNothing, kTakeMessage},
       {},
       half + half},
      {"fragments past the bound",
       0,
       {frame(kOpText, half, true, false), frame(kOpContinuation, half + "x")},
       {kTakeNothing, kTakeEnd},
       closeWith(kCloseTooBig),
       ""},
      {"compressed message in fragments",
       kOfferAccepted,
       compressedInTwo(report),
       {kTakeNothing, kTakeMessage},
       {},
       report},
      {"compressed continuation",
       kOfferAccepted,
       {frame(kOpText, "a", true, false),
        [] {
          Bytes next = frame(kOpContinuation, "b");
          next[0] |= kFrameCompressed;
          return next;
        }()},
       {kTakeNothing, kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"compressed without agreement",
       0,
       {compressed(kFinalBit | kOpText, report)},
       {kTakeEnd},
       closeWith(kCloseProtocolError),
       ""},
      {"compressed past the bound",
       kOfferAccepted,
       {compressed(kFinalBit | kOpText, std::string(kMessageMax + 1, 'a'))},
       {kTakeEnd},
       closeWith(kCloseTooBig),
       ""},
      {"compressed report",
       kOfferAccepted,
       {compressed(kFinalBit | kOpText, report)},
       {kTakeMessage},
       {},
       report},
  };
  for (const Case& c : cases) {
    auto rec = record();
    rec->deflateOn = c.deflateOn;
    ASSERT_EQ(c.frames.size(), c.steps.size()) << c.what;
    for (size_t k = 0; k < c.frames.size(); ++k) {
      const Bytes& sent = c.frames[k];
      ASSERT_EQ(wsframeLength(sent.data(), int(sent.size())), int(sent.size())) << c.what;
      uint8_t out[kRxBufSize];
      const FrameTake take = wstakeFrame(rec.get(), sent.data(), int(sent.size()), out);
      ASSERT_EQ(take.step, c.steps[k]) << c.what << ", frame " << k;
      const bool last = k + 1 == c.frames.size();
      if (last && (take.step == kTakeAnswer || take.step == kTakeEnd)) {
        EXPECT_EQ(Bytes(out, out + take.length), c.out) << c.what;
      } else if (take.step == kTakeMessage) {
        if (take.length > 0) {
          wsdecode(rec.get(), out, take.length);
        } else {
          wsdecode(rec.get(), sent.data(), int(sent.size()));
        }
        EXPECT_EQ(rdText(), c.message) << c.what;
      }
    }
  }
}
