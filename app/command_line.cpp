// The argument scan: "--help", "--version" and "-p <port>", in order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/control.h"
#include "app/panel.h"
#include "server/listener.h"

namespace {

constexpr const char* kHelp =
    "\nпараметры:\n--help       - подсказка\n--version    - версия программы\n\n"
    "-p <port>    - порт прослушивания сервера\n\n";
constexpr const char* kNoArguments = "Необходимы параметры!\n";
constexpr const char* kNoPortValue = "Не задано значение параметроа порта прослушивания!\n";
constexpr const char* kUnknownArgument =
    "значение: %s ...не определено! используйте --help для подсказки!\n";

}  // namespace

int32_t R, G, B;  // set first thing in the scan below

int scanArguments(int argc, char** argv) {
  // The colour is set before anything else, as the demonstration expects.
  R = 100;
  G = 100;
  B = 100;
  if (argc < 2) {
    printf("%s", kNoArguments);
    return -1;
  }
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0) {
      printf("%s", kHelp);
      return 0;
    }
    if (strcmp(argv[i], "--version") == 0) {
      printf("Date : %s Version : %s\n", kVersionDate, kVersionNumber);
      return 0;
    }
    if (strcmp(argv[i], "-p") == 0) {
      if (i + 1 >= argc) {
        printf("%s", kNoPortValue);
        return -2;
      }
      wsport = atoi(argv[++i]);
      continue;
    }
    printf(kUnknownArgument, argv[i]);
    return -1;
  }
  return kScanRun;
}
