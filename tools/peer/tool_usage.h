// What every program of the project does with its command line: --help (or
// -h) prints its usage on standard output and succeeds, and an argument that
// reads as an option is never taken for a file name.
#pragma once

#include <cstdio>
#include <cstring>

// True when an argument asks for help; the usage is then printed on
// standard output.
inline bool answeredHelp(int argc, char** argv, const char* usage) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(usage, stdout);
      return true;
    }
  }
  return false;
}

// True when the argument reads as an option ("-x", "--name"): where a file
// name is wanted the program shows its usage instead of writing such a file.
inline bool isOption(const char* argument) {
  return argument[0] == '-' && argument[1] != '\0';
}

// True when any argument after the program's name reads as an option.
inline bool anyOption(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (isOption(argv[i])) return true;
  }
  return false;
}

// What a program that takes no options does before reading its arguments:
// 0 when it answered --help, 2 (its usage on standard error) when an
// argument reads as an option, else -1: go on.
inline int usageAnswer(int argc, char** argv, const char* usage) {
  if (answeredHelp(argc, argv, usage)) return 0;
  if (!anyOption(argc, argv)) return -1;
  fputs(usage, stderr);
  return 2;
}
