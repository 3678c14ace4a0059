// The Debian package of this build: tools/make-deb.sh makes it, its control
// fields and files are checked, and it is unpacked into a temporary root
// whose unit seeds the picture, whose panel-key makes a key, and whose unit
// starts the server, asking for that key when it exists, which streams the
// picture and obeys a press. Then its life in a temporary system of its own
// (dpkg's database only, the maintainer scripts run with DPKG_ROOT): an
// upgrade from an older build, and a purge followed by a reinstall.
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
 public:
  // This build's package, as `version` when one is given; its path.
  std::string makePackage(const std::string& out, const std::string& version = "") {
    const std::string arch = trimmed(run("dpkg --print-architecture"));
    const std::string env = version.empty() ? "" : "PANEL_DEB_VERSION=" + version + " ";
    return trimmed(run(env + PANEL_SOURCE_DIR + "/tools/make-deb.sh " + PANEL_BUILD_DIR + " " +
                       folder_ + "/" + out + " " + arch));
  }
  // dpkg acting on the temporary system under root(), its dependencies
  // (the C library and the rest) taken as there.
  std::string dpkg(const std::string& args) {
    return run("dpkg --root=" + root() + " --force-script-chrootless --force-depends " + args +
               " 2>&1");
  }
  std::string root() const { return folder_ + "/system"; }
  // Every file and link of the temporary system but dpkg's database.
  std::string filesLeft() {
    return run("cd " + root() +
               " && find . -path ./var/lib/dpkg -prune -o ! -type d -print | sort");
  }

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
  const std::string deb = makePackage("out");
  ASSERT_FALSE(deb.empty());

  // The control fields: the release the server prints and the commit after
  // it (sorting after the release alone, the version of earlier builds),
  // this machine's architecture, the C library among the dependencies.
  const std::string printed = run(std::string(PANEL_SERVER_BIN) + " --version");
  const std::string release = trimmed(printed.substr(printed.rfind(": ") + 2));
  const std::string version = trimmed(run("dpkg-deb -f " + deb + " Version"));
  EXPECT_EQ(run("dpkg-deb -f " + deb + " Package"), "panel-server\n");
  EXPECT_EQ(version.rfind(release + "+git", 0), 0u) << version;
  EXPECT_EQ(runCommand("dpkg --compare-versions " + version + " gt " + release, nullptr), 0);
  EXPECT_EQ(run("dpkg-deb -f " + deb + " Architecture"), arch + "\n");
  EXPECT_NE(run("dpkg-deb -f " + deb + " Depends").find("libc6 (>= 2."), std::string::npos);
  EXPECT_EQ(deb, folder_ + "/out/panel-server_" + version + "_" + arch + ".deb");
  EXPECT_EQ(run("dpkg-deb -I " + deb + " conffiles"), "/etc/default/panel-server\n");
  for (const char* script : {"postinst", "prerm", "postrm"}) {
    EXPECT_EQ(runCommand("dpkg-deb -I " + deb + " " + script + " | grep -q deb-systemd-", nullptr),
              0)
        << script;
  }

  // The files, panel-key a link to the server, and nothing outside the
  // folders a package may use.
  EXPECT_EQ(runCommand("dpkg-deb -c " + deb + " | grep -q ' ./usr/bin/panel-key -> panel-server$'",
                       nullptr),
            0);
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

  // The unit's start, with the key systemd hands over as %d/key: without a
  // key file systemd's stand-in is the word "absent", and the server starts
  // open and says why, even where a drop-in of older instructions names
  // that copy in PANEL_KEY_FILE.
  const std::string credentials = folder_ + "/credentials";
  run("mkdir " + credentials + " && echo absent > " + credentials + "/key");
  const std::string execStart = trimmed(run("sed -e ':a' -e '/\\\\$/{N;s/\\\\\\n//;ba' -e '}' " +
                                            unit + " | sed -n 's/^ExecStart=//p' | sed -e 's|%d|" +
                                            credentials + "|g' -e 's/\\$\\$/$/g'"));
  const uint16_t openPort = freePort();
  ServerProcess open("/bin/sh");
  open.setEnvironment("PORT", std::to_string(openPort));
  open.setEnvironment("PANEL_KEY_FILE", credentials + "/key");
  ASSERT_TRUE(open.start("package-open", picture, {"-c", "exec " + execStart}));
  Viewer visitor;
  ASSERT_TRUE(visitor.open(openPort, nullptr));
  ASSERT_TRUE(visitor.waitForPictures(0, kWaitMs));
  EXPECT_NE(open.output().find("No key in /etc/panel-server/key"), std::string::npos)
      << open.output();

  // The unpacked panel-key (a link to the server) makes a key; the server the
  // unit starts with that key streams the picture to a client that brings
  // the key and obeys its press on "circle".
  const std::string key =
      trimmed(run("rm " + credentials + "/key && " + root + "/usr/bin/panel-key " + credentials +
                  "/key | sed -n 's/^Key: //p'"));
  ASSERT_FALSE(key.empty());
  const uint16_t port = freePort();
  ServerProcess server("/bin/sh");
  server.setEnvironment("PORT", std::to_string(port));
  ASSERT_TRUE(server.start("package", picture, {"-c", "exec " + execStart}));
  Viewer viewer;
  ASSERT_TRUE(viewer.open(port, nullptr, "Authorization: Bearer " + key + "\r\n"));
  ASSERT_TRUE(viewer.waitForPictures(0, kWaitMs));
  Viewer refused;
  EXPECT_FALSE(refused.open(port, nullptr));
  EXPECT_EQ(viewer.latest().size(), picture.size());
  EXPECT_NE(bmpPixel(viewer.latest(), kOnTheCircleX, kOnTheCircleY), kGrey);
  EXPECT_TRUE(viewer.click(kCircleButtonX, kButtonY, kWaitMs));
  EXPECT_TRUE(viewer.waitUntil(
      [](const std::vector<uint8_t>& shown) {
        return bmpPixel(shown, kOnTheCircleX, kOnTheCircleY) == kGrey;
      },
      kWaitMs));
}

// The package's life in a temporary system of its own (dpkg's database
// alone): an older build, what the owner makes, the upgrade, removal, purge
// and a reinstall.
TEST_F(PackageTest, UpgradesKeepWhatTheOwnerMadeAndAPurgeLeavesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "dpkg installs into a temporary system as root only";
  if (!have("deb-systemd-helper")) GTEST_SKIP() << "deb-systemd-helper is missing";
  run("mkdir -p " + root() + "/var/lib/dpkg/info " + root() + "/var/lib/dpkg/updates && touch " +
      root() + "/var/lib/dpkg/status");

  // The older build: the release alone, the version of every build before
  // versions moved, its program marked so that its replacement shows.
  const std::string printed = run(std::string(PANEL_SERVER_BIN) + " --version");
  const std::string built = makePackage("old", trimmed(printed.substr(printed.rfind(": ") + 2)));
  const std::string tree = folder_ + "/old-tree", old = folder_ + "/old.deb";
  run("dpkg-deb -R " + built + " " + tree + " && printf older >> " + tree +
      "/usr/bin/panel-server && dpkg-deb --root-owner-group -b " + tree + " " + old);
  dpkg("-i " + old);
  ASSERT_EQ(run("stat -c %a:%U " + root() + "/etc/panel-server"), "700:root\n");
  const std::string enabled = "/etc/systemd/system/multi-user.target.wants/panel-server.service";
  EXPECT_EQ(runCommand("test -L " + root() + enabled, nullptr), 0);
  const std::string firstInstall = filesLeft();

  // What the device's owner makes: settings, picture, key.
  run("echo PORT=8090 >> " + root() + "/etc/default/panel-server && mkdir -p " + root() +
      "/var/lib/panel-server && echo mine > " + root() + "/var/lib/panel-server/work.bmp && " +
      root() + "/usr/bin/panel-key " + root() + "/etc/panel-server/key");
  const std::vector<uint8_t> settings = fileBytes(root() + "/etc/default/panel-server");
  const std::vector<uint8_t> key = fileBytes(root() + "/etc/panel-server/key");
  ASSERT_FALSE(key.empty());

  // The newer build replaces the program and keeps all three; so does removal.
  const std::string newer = makePackage("new");
  dpkg("-i " + newer);
  EXPECT_EQ(
      run("dpkg-query --admindir=" + root() + "/var/lib/dpkg -W -f '${Version}' panel-server"),
      run("dpkg-deb -f " + newer + " Version | tr -d '\\n'"));
  run("dpkg-deb -x " + newer + " " + folder_ + "/new-tree");
  EXPECT_EQ(fileBytes(root() + "/usr/bin/panel-server"),
            fileBytes(folder_ + "/new-tree/usr/bin/panel-server"));
  dpkg("-r panel-server");
  EXPECT_EQ(fileBytes(root() + "/etc/default/panel-server"), settings);
  EXPECT_EQ(trimmed(run("cat " + root() + "/var/lib/panel-server/work.bmp")), "mine");
  EXPECT_EQ(fileBytes(root() + "/etc/panel-server/key"), key);

  // Purge leaves no file or link; a reinstall is a first install again.
  dpkg("-P panel-server");
  EXPECT_EQ(filesLeft(), "");
  EXPECT_NE(runCommand("test -e " + root() + "/etc/panel-server", nullptr), 0);
  dpkg("-i " + newer);
  EXPECT_EQ(filesLeft(), firstInstall);
  EXPECT_EQ(run("stat -c %a:%U " + root() + "/etc/panel-server"), "700:root\n");
  EXPECT_EQ(run("ls -A " + root() + "/etc/panel-server"), "");
}
