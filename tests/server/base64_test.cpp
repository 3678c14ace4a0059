// Base64 encoding and decoding, their sizing functions and the two tables.
#include "server/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Encodes text and checks the returned count against the bytes written.
std::string encode(const std::string& input) {
  char out[256];
  memset(out, '#', sizeof out);
  const int written =
      Base64encode(out, reinterpret_cast<const uint8_t*>(input.data()), int(input.size()));
  EXPECT_EQ(written, Base64encode_len(int(input.size())));
  EXPECT_EQ(size_t(written), strlen(out) + 1);
  return out;
}

// Decodes text; checks the NUL after the bytes and the sizing function.
std::string decode(const char* text) {
  uint8_t out[256];
  memset(out, '#', sizeof out);
  const int count = Base64decode(out, text);
  EXPECT_GE(count, 0);
  EXPECT_EQ(out[count], 0);
  EXPECT_LE(count + 1, Base64decode_len(text));
  return std::string(reinterpret_cast<char*>(out), size_t(count));
}

}  // namespace

TEST(Base64, TablesAgree) {
  EXPECT_EQ(strlen(basis_64), 64u);
  int alphabet = 0;
  for (int byte = 0; byte < 256; ++byte) {
    const uint8_t value = pr2six[byte];
    if (value < 64) {
      EXPECT_EQ(uint8_t(basis_64[value]), byte) << byte;
      ++alphabet;
    } else {
      EXPECT_EQ(value, 64) << byte;
    }
  }
  EXPECT_EQ(alphabet, 64);
}

TEST(Base64, EncodesWithPaddingForEachRemainder) {
  EXPECT_EQ(encode(""), "");
  EXPECT_EQ(encode("M"), "TQ==");
  EXPECT_EQ(encode("Ma"), "TWE=");
  EXPECT_EQ(encode("Man"), "TWFu");
  EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(encode(std::string("\xff\xfe\xfd\x00\x80", 5)), "//79AIA=");
}

TEST(Base64, EmptyOrNegativeLengthWritesOnlyTheNul) {
  char out[8] = "xxxxxxx";
  EXPECT_EQ(Base64encode(out, nullptr, 0), 1);
  EXPECT_EQ(out[0], '\0');
  out[0] = 'x';
  EXPECT_EQ(Base64encode(out, nullptr, -7), 1);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], 'x');
  EXPECT_EQ(Base64encode_len(0), 1);
  EXPECT_EQ(Base64encode_len(-7), 1);
}

TEST(Base64, DigestSizedInputGives28CharactersWithOnePad) {
  uint8_t digest[20];
  for (int i = 0; i < 20; ++i) digest[i] = uint8_t(i * 13);
  char out[64];
  EXPECT_EQ(Base64encode(out, digest, 20), 29);
  EXPECT_EQ(Base64encode_len(20), 29);
  EXPECT_EQ(strlen(out), 28u);
  EXPECT_EQ(out[27], '=');
  EXPECT_NE(out[26], '=');
  EXPECT_EQ(Base64encode_len(1), 5);
}

TEST(Base64, DecodeStopsAtPaddingSpaceOrForeignByte) {
  EXPECT_EQ(decode("TWFu"), "Man");
  EXPECT_EQ(decode("TWE="), "Ma");
  EXPECT_EQ(decode("TQ=="), "M");
  EXPECT_EQ(decode("TWFu TWFu"), "Man");
  EXPECT_EQ(decode("TWFu\r\nTWFu"), "Man");
  EXPECT_EQ(decode("TW-Fu"), "M");
  EXPECT_EQ(decode("Zm9vYmFy"), "foobar");
}

TEST(Base64, DecodeOfNoAlphabetCharacterWritesOnlyTheNul) {
  EXPECT_EQ(decode(""), "");
  EXPECT_EQ(decode("=abc"), "");
  EXPECT_EQ(Base64decode_len(""), 1);
  EXPECT_EQ(Base64decode_len("=abc"), 1);
}

TEST(Base64, FiveCharactersDecodeToThreeBytes) {
  EXPECT_EQ(decode("TWFuT"), "Man");
  EXPECT_EQ(Base64decode_len("TWFuT"), 7);
}

TEST(Base64, EveryByteValueSurvivesTheRoundTrip) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all.push_back(char(byte));
  for (size_t length : {1u, 2u, 3u, 100u, 101u, 256u}) {
    char text[400];
    Base64encode(text, reinterpret_cast<const uint8_t*>(all.data()), int(length));
    uint8_t back[300];
    ASSERT_EQ(Base64decode(back, text), int(length));
    EXPECT_EQ(memcmp(back, all.data(), length), 0) << length;
  }
}
