// The project's programs as a user meets them: each answers --help with its
// usage and never takes an option for a file name; a tool killed mid-run
// leaves no server and, after the next run, no folder behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

constexpr int kEventWaitMs = 20000;  // generous: the machine may be busy

std::vector<std::string> toolPrograms() {
  std::vector<std::string> programs;
  std::stringstream list(PANEL_TOOL_BINS);
  for (std::string program; std::getline(list, program, ',');) programs.push_back(program);
  return programs;
}

// Names in the folder.
std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  DIR* listing = opendir(folder.c_str());
  while (const dirent* entry = listing ? readdir(listing) : nullptr) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (listing) closedir(listing);
  return names;
}

// The first process whose parent is `parent` and whose command line names
// `program`, or 0.
pid_t childRunning(pid_t parent, const std::string& program) {
  for (const std::string& name : entriesOf("/proc")) {
    const pid_t pid = pid_t(atoi(name.c_str()));
    if (pid <= 0) continue;
    std::ifstream statFile("/proc/" + name + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || atoi(stat.c_str() + close + 4) != parent) continue;
    std::ifstream cmdlineFile("/proc/" + name + "/cmdline");
    std::string cmdline((std::istreambuf_iterator<char>(cmdlineFile)),
                        std::istreambuf_iterator<char>());
    if (cmdline.find(program) != std::string::npos) return pid;
  }
  return 0;
}

// Waits for the child to end: true when it did within the wait.
bool reaped(pid_t pid, int waitMs) {
  for (int waited = 0; waited < waitMs; waited += 20) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    usleep(20000);
  }
  return false;
}

}  // namespace

TEST(Programs, EachAnswersHelpAndTakesNoOptionForAFile) {
  const std::string folder = tempPath("programs");
  ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
  for (const std::string& program : toolPrograms()) {
    std::string printed;
    EXPECT_EQ(runCommand("cd '" + folder + "' && " + program + " --help 2>/dev/null", &printed), 0)
        << program;
    EXPECT_EQ(printed.rfind("usage: ", 0), 0u) << program << ": " << printed;
    for (const char* options : {"-x", "--photo -x", "-x -y"}) {
      EXPECT_NE(
          runCommand("cd '" + folder + "' && " + program + " " + options + " 2>/dev/null", nullptr),
          0)
          << program << " " << options;
    }
    EXPECT_TRUE(entriesOf(folder).empty()) << program << " wrote " << entriesOf(folder)[0];
  }
}

TEST(Programs, AKilledToolLeavesNoServerAndItsFolderGoesAtTheNextRun) {
  if (PANEL_CROSS_BUILD) GTEST_SKIP() << "the emulator stands between the tool and its server";
  // Orphans become this process's children, so the server's end is seen here.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const pid_t tool = fork();
  ASSERT_GE(tool, 0);
  if (tool == 0) {
    execl(PANEL_SOAK_BIN, PANEL_SOAK_BIN, "600", static_cast<char*>(nullptr));
    _exit(127);
  }
  pid_t server = 0;
  for (int waited = 0; server == 0 && waited < kEventWaitMs; waited += 20) {
    server = childRunning(tool, "panel-server");
    if (server == 0) usleep(20000);
  }
  kill(tool, SIGKILL);
  ASSERT_EQ(waitpid(tool, nullptr, 0), tool);
  ASSERT_NE(server, 0) << "the tool started no server";
  const bool serverEnded = reaped(server, kEventWaitMs);
  if (!serverEnded) {
    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
  }
  EXPECT_TRUE(serverEnded) << "the server outlived the killed tool";

  const char* base = getenv("TMPDIR");
  const std::string temporary = base && *base ? base : "/tmp";
  const std::string left = "panel-test-" + std::to_string(tool) + "-";
  auto leftBehind = [&] {
    for (const std::string& name : entriesOf(temporary)) {
      if (name.rfind(left, 0) == 0) return true;
    }
    return false;
  };
  EXPECT_TRUE(leftBehind()) << "the killed tool's folder";
  EXPECT_GE(removeStaleTempFolders(), 1);
  EXPECT_FALSE(leftBehind());
}
