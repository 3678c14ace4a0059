// make-picture: the photograph-like picture is the same bytes wherever the
// tool runs (this test runs on the host and under the ARM emulator against
// the same digests), and sizes it cannot make are refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

// Runs make-picture with the arguments, the file first; returns its status.
int makePicture(const std::string& options, const std::string& path, const std::string& size) {
  return runCommand(std::string(PANEL_MAKE_PICTURE_BIN) + " " + options + " '" + path + "' " +
                        size + " 2>/dev/null",
                    nullptr);
}

std::vector<uint8_t> readAndRemove(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  unlink(path.c_str());
  return bytes;
}

// 64-bit FNV-1a.
uint64_t digest(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (const uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3u;
  return hash;
}

}  // namespace

TEST(MakePicture, PhotoIsTheSameBytesOnEveryMachine) {
  struct Case {
    const char* size;
    size_t length;
    uint64_t digest;
  };
  const Case cases[] = {
      {"", 921654, 0xe91a2c787248f7fdu},
      {"1024 600", 1843254, 0xafc30d7a9a13cc83u},
  };
  for (const Case& c : cases) {
    const std::string path = tempPath("photo.bmp");
    ASSERT_EQ(makePicture("--photo", path, c.size), 0) << c.size;
    const std::vector<uint8_t> bytes = readAndRemove(path);
    EXPECT_EQ(bytes.size(), c.length) << c.size;
    EXPECT_EQ(digest(bytes), c.digest) << std::hex << c.size;
  }
}

TEST(MakePicture, SizesItCannotMakeAreRefused) {
  const char* sizes[] = {"0 480", "640 -1", "640x 480", "4097 10", "640"};
  for (const char* size : sizes) {
    const std::string path = tempPath("refused.bmp");
    EXPECT_EQ(makePicture("--photo", path, size), 2) << size;
    EXPECT_EQ(access(path.c_str(), F_OK), -1) << size << ": no file is left";
  }
}

// The default picture the install rules copy is a file of the source tree,
// so that a cross build runs nothing; it stays what make-picture writes.
TEST(MakePicture, TheInstalledDefaultPictureIsItsCalmBackground) {
  const std::string path = tempPath("default.bmp");
  ASSERT_EQ(makePicture("", path, ""), 0);
  const std::vector<uint8_t> made = readAndRemove(path);
  std::ifstream in(std::string(PANEL_SOURCE_DIR) + "/tools/default_work.bmp", std::ios::binary);
  const std::vector<uint8_t> kept((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  EXPECT_EQ(made.size(), 921654u);
  EXPECT_TRUE(kept == made) << "remake it: make-picture tools/default_work.bmp";
}
