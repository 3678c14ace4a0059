// Runs the real server binary for a test: in a folder of its own holding the given
// picture as work.bmp, on the given arguments, its output and its error
// stream (where sanitizer reports go) kept in files. The
// process is killed when the object goes, and by the system when the thread
// that started it ends (start it from one that outlives it, such as main),
// so no test or tool leaves a server behind, even when it is killed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class ServerProcess {
 public:
  // The program to run: the build's panel-server unless another is named.
  explicit ServerProcess(std::string program = PANEL_SERVER_BIN) : program_(std::move(program)) {}
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts the program with args in the folder named `name` (new, or the
  // one a server of that name ran in) holding the picture; false when it
  // could not be started.
  bool start(const std::string& name, const std::vector<uint8_t>& picture,
             const std::vector<std::string>& args);
  // Sets an environment variable for the program started next.
  void setEnvironment(const std::string& name, const std::string& value) {
    environment_.emplace_back(name, value);
  }
  // Starts on the port with a plain picture of the given size.
  bool startOnPort(const std::string& name, int32_t port, int32_t width = 64, int32_t height = 48);
  // Sends the signal; false when the process is gone.
  bool signal(int number);
  // Waits at most timeoutMs for the exit: the exit status, 128 + the signal
  // number for a process ended by a signal, or -1 when still running.
  int waitExit(int timeoutMs);
  // Everything the process has printed so far.
  std::string output() const;
  // Everything it has written to its error stream so far.
  std::string errors() const;
  pid_t pid() const { return pid_; }

 private:
  std::string program_;
  pid_t pid_ = -1;
  std::string folder_;
  std::vector<std::pair<std::string, std::string>> environment_;
};

// True when an error stream holds a report of AddressSanitizer,
// UndefinedBehaviorSanitizer, LeakSanitizer or ThreadSanitizer.
bool sanitizerReported(const std::string& errors);

// Number of times `part` occurs in `text`.
int countOf(const std::string& text, const std::string& part);
