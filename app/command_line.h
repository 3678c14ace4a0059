// The command line: "--help", "--version" and "-p <port>".
#pragma once

constexpr int kScanRun = 1;  // the scan found a port: start the system
constexpr const char* kVersionDate = "15.05.2018";
constexpr const char* kVersionNumber = "01.00.03";

// Scans the arguments, printing help, version or an error as they ask.
// kScanRun to go on; otherwise the value main returns (0, -1 or -2).
int scanArguments(int argc, char** argv);
