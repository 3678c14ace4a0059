// The Debian package of this build: tools/make-deb.sh makes it, its control
// fields and files are checked, and it is unpacked into a temporary root
// whose unit seeds the picture, whose panel-key makes a key, and whose server,
// asking for that key, streams the picture and obeys a press.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tools/peer/server_process.h"
#include "tools/peer/viewer.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr int32_t kCircleButtonX = 50, kButtonY = 20;
constexpr int32_t kOnTheCircleX = 370, kOnTheCircleY = 240;  // radius 50 around (320, 240)
constexpr uint32_t kGrey = 0x646464;                         // the first drawing colour

// Files the package must hold, and the folders it may write into.
constexpr const char* kFiles[] = {
    "./usr/bin/panel-server",
    "./usr/bin/panel-key",
    "./lib/systemd/system/panel-server.service",
    "./usr/share/panel-server/work.bmp",
    "./etc/default/panel-server",
    "./usr/share/doc/panel-server/copyright",
    "./usr/share/doc/panel-server/changelog.gz",
    "./usr/share/man/man1/panel-server.1.gz",
    "./usr/share/man/man1/panel-key.1.gz",
};
constexpr const char* kFolders[] = {"./usr/bin/", "./usr/share/", "./lib/systemd/system/",
                                    "./etc/default/"};

bool have(const std::string& tool) {
  return runCommand("command -v " + tool + " >/dev/null", nullptr) == 0;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A fresh folder of its own, removed with everything in it when the test ends.
class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PANEL_CROSS_BUILD) GTEST_SKIP() << "the package test runs in the host's build";
    for (const char* tool : {"dpkg", "dpkg-deb", "dpkg-shlibdeps"}) {
      if (!have(tool))
        GTEST_SKIP() << tool << " is missing (Debian's dpkg-dev: tools/setup.sh base)";
    }
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/panel-package-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    if (!folder_.empty()) runCommand("rm -rf '" + folder_ + "'", nullptr);
  }
  // Runs the command; its output, or a failure of the test.
  std::string run(const std::string& command) {
    std::string output;
    EXPECT_EQ(runCommand(command, &output), 0) << command << "\n" << output;
    return output;
  }
  std::string folder_;
};

}  // namespace

TEST_F(PackageTest, HoldsTheSystemsFilesAndItsServerRunsFromTheUnpackedRoot) {
  const std::string arch = trimmed(run("dpkg --print-architecture"));
  const std::string deb = trimmed(run(std::string(PANEL_SOURCE_DIR) + "/tools/make-deb.sh " +
                                      PANEL_BUILD_DIR + " " + folder_ + "/out " + arch));
  ASSERT_FALSE(deb.empty());

  // The control fields: the version the server prints, this machine's
  // architecture, the C library among the computed dependencies.
  const std::string printed = run(std::string(PANEL_SERVER_BIN) + " --version");
  const std::string version = printed.substr(printed.rfind(": ") + 2);
  EXPECT_EQ(run("dpkg-deb -f " + deb + " Package"), "panel-server\n");
  EXPECT_EQ(run("dpkg-deb -f " + deb + " Version"), version);
  EXPECT_EQ(run("dpkg-deb -f " + deb + " Architecture"), arch + "\n");
  EXPECT_NE(run("dpkg-deb -f " + deb + " Depends").find("libc6 (>= 2."), std::string::npos);
  EXPECT_EQ(deb, folder_ + "/out/panel-server_" + trimmed(version) + "_" + arch + ".deb");
  EXPECT_EQ(run("dpkg-deb -I " + deb + " conffiles"), "/etc/default/panel-server\n");
  for (const char* script : {"postinst", "prerm", "postrm"}) {
    EXPECT_EQ(runCommand("dpkg-deb -I " + deb + " " + script + " | grep -q deb-systemd-", nullptr),
              0)
        << script;
  }

  // The files, and nothing outside the folders a package may use.
  const std::string listing = run("dpkg-deb -c " + deb + " | awk '{print $6}'");
  for (const char* file : kFiles) {
    EXPECT_NE(listing.find(std::string(file) + "\n"), std::string::npos) << file;
  }
  size_t start = 0;
  for (size_t end = listing.find('\n'); end != std::string::npos;
       start = end + 1, end = listing.find('\n', start)) {
    const std::string path = listing.substr(start, end - start);
    bool inside = path == "./" || path == "./etc/" || path == "./lib/" ||
                  path == "./lib/systemd/" || path == "./usr/";
    for (const char* allowed : kFolders) inside = inside || path.rfind(allowed, 0) == 0;
    EXPECT_TRUE(inside) << path;
  }

  // Unpacked: the unit, with /usr/ pointed into the root, is sound, and its
  // start step copies the default picture into an empty state folder and
  // keeps a picture already there.
  const std::string root = folder_ + "/root";
  run("dpkg-deb -x " + deb + " " + root);
  const std::string unit = folder_ + "/panel-server.service";
  run("sed 's|/usr/|" + root + "/usr/|g' " + root + "/lib/systemd/system/panel-server.service > " +
      unit);
  if (have("systemd-analyze")) run("systemd-analyze verify --man=no " + unit);
  const std::string seed = trimmed(run("sed -n 's/^ExecStartPre=//p' " + unit));
  const std::string state = folder_ + "/state";
  run("mkdir " + state + " && cd " + state + " && " + seed + " && " + seed);
  const std::vector<uint8_t> picture = fileBytes(root + "/usr/share/panel-server/work.bmp");
  ASSERT_EQ(fileBytes(state + "/work.bmp"), picture);
  run("echo mine > " + state + "/work.bmp && cd " + state + " && " + seed);
  EXPECT_EQ(trimmed(run("cat " + state + "/work.bmp")), "mine");

  // The unpacked panel-key makes a key; the unpacked server, with that key
  // file, streams the picture to a client that brings the key and obeys
  // its press on "circle".
  const std::string key =
      trimmed(run(root + "/usr/bin/panel-key " + folder_ + "/key | sed -n 's/^Key: //p'"));
  ASSERT_FALSE(key.empty());
  const uint16_t port = freePort();
  ServerProcess server(root + "/usr/bin/panel-server");
  setenv("PANEL_KEY_FILE", (folder_ + "/key").c_str(), 1);
  const bool started = server.start("package", picture, {"-p", std::to_string(port)});
  unsetenv("PANEL_KEY_FILE");
  ASSERT_TRUE(started);
  Viewer viewer;
  ASSERT_TRUE(viewer.open(port, nullptr, "Authorization: Bearer " + key + "\r\n"));
  ASSERT_TRUE(viewer.waitForPictures(0, kWaitMs));
  EXPECT_EQ(viewer.latest().size(), picture.size());
  EXPECT_NE(bmpPixel(viewer.latest(), kOnTheCircleX, kOnTheCircleY), kGrey);
  EXPECT_TRUE(viewer.click(kCircleButtonX, kButtonY, kWaitMs));
  EXPECT_TRUE(viewer.waitUntil(
      [](const std::vector<uint8_t>& shown) {
        return bmpPixel(shown, kOnTheCircleX, kOnTheCircleY) == kGrey;
      },
      kWaitMs));
}
