#include "tools/peer/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tools/peer/bmp_writer.h"
#include "tools/peer/temp_path.h"

namespace {

std::string fileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

ServerProcess::~ServerProcess() {
  // Never kill(-1): the pid is checked again after the wait.
  if (pid_ > 0 && waitExit(0) == -1 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool ServerProcess::start(const std::string& name, const std::vector<uint8_t>& picture,
                          const std::vector<std::string>& args) {
  folder_ = tempPath(name);
  // A name used before runs in the same folder, as a restarted server does.
  if ((mkdir(folder_.c_str(), 0755) != 0 && errno != EEXIST) ||
      !writeBytes(folder_ + "/work.bmp", picture)) {
    return false;
  }
  const std::string outputPath = folder_ + "/output.txt";
  const std::string errorsPath = folder_ + "/errors.txt";
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    // The server dies with the test or tool that started it, however that
    // ends (a kill included); a parent already gone is seen at once.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(122);
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || chdir(folder_.c_str()) != 0) _exit(120);
    const int err = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0) _exit(120);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    for (const auto& [name, value] : environment_) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program_.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program_.c_str(), argv.data());
    _exit(121);
  }
  return true;
}

bool ServerProcess::startOnPort(const std::string& name, int32_t port, int32_t width,
                                int32_t height) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  return start(name, makeBmp(layout, calmBackground), {"-p", std::to_string(port)});
}

bool ServerProcess::signal(int number) {
  return pid_ > 0 && kill(pid_, number) == 0;
}

int ServerProcess::waitExit(int timeoutMs) {
  for (int waited = 0;; waited += 10) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (done < 0) {
      pid_ = -1;
      return -1;
    }
    if (waited >= timeoutMs) return -1;
    usleep(10000);
  }
}

std::string ServerProcess::output() const {
  return fileText(folder_ + "/output.txt");
}

std::string ServerProcess::errors() const {
  return fileText(folder_ + "/errors.txt");
}

bool sanitizerReported(const std::string& errors) {
  for (const char* marker : {"ERROR: AddressSanitizer", "runtime error", "ERROR: LeakSanitizer",
                             "WARNING: ThreadSanitizer"}) {
    if (errors.find(marker) != std::string::npos) return true;
  }
  return false;
}

int countOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}
