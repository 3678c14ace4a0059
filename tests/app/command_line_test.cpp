// The command line, through the built server binary: every message and exit
// status byte for byte.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "server/listener.h"
#include "support/test_support.h"

namespace {

// Runs the server binary with the arguments in an empty folder; returns the
// exit status and stores what it printed.
int runServer(const std::string& arguments, std::string* output) {
  const std::string folder = tempPath("");
  return runCommand("cd " + folder + " && timeout 10 " PANEL_SERVER_BIN " " + arguments, output);
}

const std::string kHelp =
    "\nпараметры:\n--help       - подсказка\n--version    - версия программы\n\n"
    "-p <port>    - порт прослушивания сервера\n\n";

}  // namespace

TEST(CommandLine, NoArgumentsAsksForParameters) {
  std::string out;
  EXPECT_EQ(runServer("", &out), 255);
  EXPECT_EQ(out, "Необходимы параметры!\n");
}

TEST(CommandLine, PortWithoutValueIsAnError) {
  std::string out;
  EXPECT_EQ(runServer("-p", &out), 254);
  EXPECT_EQ(out, "Не задано значение параметроа порта прослушивания!\n");
}

TEST(CommandLine, HelpAndVersionStopWithStatusZero) {
  std::string out;
  EXPECT_EQ(runServer("--help", &out), 0);
  EXPECT_EQ(out, kHelp);
  EXPECT_EQ(runServer("--version", &out), 0);
  EXPECT_EQ(out, "Date : 15.05.2018 Version : 01.00.03\n");
  EXPECT_EQ(runServer("-p 8080 --help", &out), 0);
  EXPECT_EQ(out, kHelp) << "nothing is started before the help";
  EXPECT_EQ(runServer("--help -x", &out), 0) << "arguments after help are not looked at";
}

TEST(CommandLine, UnknownArgumentIsNamedInTheError) {
  std::string out;
  EXPECT_EQ(runServer("-x --help", &out), 255);
  EXPECT_EQ(out, "значение: -x ...не определено! используйте --help для подсказки!\n");
  EXPECT_EQ(runServer("-P 8080", &out), 255) << "words are case-sensitive";
  EXPECT_EQ(runServer("-p 8080 --HELP", &out), 255);
  EXPECT_EQ(out, "значение: --HELP ...не определено! используйте --help для подсказки!\n");
}

TEST(CommandLine, PortValueIsTakenWhateverItIs) {
  // "-p --help" takes the help switch as the port value, so the scan ends on
  // the unknown "9" that follows rather than printing the help.
  std::string out;
  EXPECT_EQ(runServer("-p --help 9", &out), 255);
  EXPECT_EQ(out, "значение: 9 ...не определено! используйте --help для подсказки!\n");
}

namespace {

int scan(std::initializer_list<const char*> words) {
  std::vector<char*> argv;
  for (const char* word : words) argv.push_back(const_cast<char*>(word));
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  const int result = scanArguments(int(argv.size() - 1), argv.data());
  testing::internal::GetCapturedStdout();
  return result;
}

}  // namespace

TEST(CommandLine, LaterPortOverridesEarlierAndValuesConvertLikeAtoi) {
  EXPECT_EQ(scan({"panel-server", "-p", "8080", "-p", "9090"}), kScanRun);
  EXPECT_EQ(wsport, 9090);
  EXPECT_EQ(scan({"panel-server", "-p", "abc"}), kScanRun);
  EXPECT_EQ(wsport, 0);
  EXPECT_EQ(scan({"panel-server", "-p", "70000"}), kScanRun);
  EXPECT_EQ(wsport, 70000) << "the server start takes its low 16 bits";
  EXPECT_EQ(scan({"panel-server", "-p", "12ab"}), kScanRun);
  EXPECT_EQ(wsport, 12);
}
