// panel-key, the key tool inside the server's program: started under the
// name panel-key (a link to panel-server), the program makes the access key
// of the panel server (PANEL_KEY_FILE) instead of serving.
//   panel-key [--view] [--stdin] [--port N] FILE
// Writes a new control key (--view: a view key) into FILE as a salted hash,
// keeping the file's key of the other kind, and prints the key once with the
// addresses to open: http://<this machine's name>:<port>/#key=<key> and the
// same with each IPv4 address of an interface that is up, loopback aside, as
// a phone on the network may not know the name (port 8080 unless --port
// gives the one the server is started on). The key is 128
// random bits in URL-safe Base64; --stdin takes a chosen passphrase (the
// first line of standard input, 8 to 256 bytes) instead, which is not printed.
// The file is written whole beside itself and renamed over the old one, with
// mode 0600, so the server never reads half a file.
#include "app/key_tool.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "door/access_key.h"

namespace {

constexpr int kDefaultPort = 8080;
constexpr int kPassphraseShortest = 8;
constexpr int kHostLongest = 256;
constexpr int kUsage = 2;
constexpr int kFailed = 1;
constexpr int kFolderLongest = 1024;
constexpr int kAddressesShown = 8;  // a machine with more interfaces shows the first ones
constexpr const char* kToolName = "panel-key";
constexpr const char* kUsageText =
    "usage: panel-key [--view] [--stdin] [--port N] FILE\n"
    "Writes a new control key (--view: a view key) into FILE as a salted hash and\n"
    "prints the key once with the address to open (port 8080 unless --port gives\n"
    "the server's). --stdin takes a passphrase from the first line of standard\n"
    "input instead of a random key.\n";

struct Options {
  bool help = false;
  int kind = kAccessControl;
  bool fromStdin = false;
  int port = kDefaultPort;
  const char* file = nullptr;
};

bool readOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0) {
      options->help = true;
      return true;
    }
    if (strcmp(argv[i], "--view") == 0) {
      options->kind = kAccessView;
    } else if (strcmp(argv[i], "--stdin") == 0) {
      options->fromStdin = true;
    } else if (strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      options->port = atoi(argv[++i]);
      if (options->port < 1 || options->port > 65535) return false;
    } else if (argv[i][0] != '-' && options->file == nullptr) {
      options->file = argv[i];
    } else {
      return false;
    }
  }
  return options->file != nullptr;
}

// The key: 128 random bits as text, or the first line of standard input.
int takeKey(const Options& options, char* key, int size) {
  if (!options.fromStdin) {
    uint8_t bytes[kKeyBytes];
    if (RAND_bytes(bytes, kKeyBytes) != 1) return -1;
    return encodeKeyText(bytes, kKeyBytes, key, size);
  }
  if (fgets(key, size, stdin) == nullptr) return -1;
  int length = int(strlen(key));
  if (length > 0 && key[length - 1] != '\n' && !feof(stdin)) return -1;  // longer than allowed
  while (length > 0 && (key[length - 1] == '\n' || key[length - 1] == '\r')) key[--length] = 0;
  return length >= kPassphraseShortest ? length : -1;
}

// Writes the text to a new file beside `path` and renames it over `path`.
// On failure errno tells why (ENOENT: the folder is missing).
bool writeWhole(const char* path, const char* text, int length) {
  char temporary[1024];
  if (snprintf(temporary, sizeof temporary, "%s.XXXXXX", path) >= int(sizeof temporary)) {
    errno = ENAMETOOLONG;
    return false;
  }
  const int file = mkstemp(temporary);
  if (file < 0) return false;
  const bool written = fchmod(file, S_IRUSR | S_IWUSR) == 0 &&
                       write(file, text, size_t(length)) == ssize_t(length) && fsync(file) == 0;
  const bool closed = close(file) == 0;
  if (!written || !closed || rename(temporary, path) != 0) {
    const int reason = errno;
    unlink(temporary);
    errno = reason;
    return false;
  }
  return true;
}

// Says why the key file could not be written; a missing folder by its name,
// as a fresh system may not have made it yet.
void reportUnwritten(const char* path, int reason) {
  const char* slash = strrchr(path, '/');
  if (reason == ENOENT && slash != nullptr && slash - path < kFolderLongest) {
    const int folderLength = slash == path ? 1 : int(slash - path);
    fprintf(stderr, "%s: cannot be written: the folder %.*s does not exist; not changed.\n", path,
            folderLength, path);
    return;
  }
  fprintf(stderr, "%s: cannot be written (%s); not changed.\n", path, strerror(reason));
}

// One "Open:" line for the machine's name, then one for each IPv4 address of
// an interface that is up (not loopback): the address, then `tail`.
void printOpenLines(const char* host, int port, const char* tail) {
  printf("Open: http://%s:%d/%s\n", host, port, tail);
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return;
  int shown = 0;
  for (const ifaddrs* at = interfaces; at != nullptr && shown < kAddressesShown;
       at = at->ifa_next) {
    if (at->ifa_addr == nullptr || at->ifa_addr->sa_family != AF_INET ||
        (at->ifa_flags & IFF_UP) == 0 || (at->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    char address[INET_ADDRSTRLEN] = {};
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(at->ifa_addr);
    if (inet_ntop(AF_INET, &v4->sin_addr, address, sizeof address) == nullptr) continue;
    printf("Open: http://%s:%d/%s\n", address, port, tail);
    shown++;
  }
  freeifaddrs(interfaces);
}

}  // namespace

bool startedAsKeyTool(const char* programName) {
  if (programName == nullptr) return false;
  const char* slash = strrchr(programName, '/');
  return strcmp(slash != nullptr ? slash + 1 : programName, kToolName) == 0;
}

int runKeyTool(int argc, char** argv) {
  Options options;
  if (!readOptions(argc, argv, &options)) {
    fprintf(stderr, "%s", kUsageText);
    return kUsage;
  }
  if (options.help) {
    printf("%s", kUsageText);
    return 0;
  }
  KeyFile keys;
  const int loaded = loadKeyFile(options.file, &keys);
  if (loaded != kKeyFileRead && loaded != kKeyFileMissing) {
    fprintf(stderr, "%s: %s; not changed.\n", options.file,
            loaded == kKeyFileUnreadable ? "cannot be read" : "holds something that is not a key");
    return kFailed;
  }
  char key[kKeyLongest + 2] = {};
  const int keyLength = takeKey(options, key, int(sizeof key));
  if (keyLength <= 0) {
    fprintf(stderr, "No key: a passphrase is one line of %d to %d bytes.\n", kPassphraseShortest,
            kKeyLongest);
    return kFailed;
  }
  KeyRecord& record = options.kind == kAccessView ? keys.view : keys.control;
  record.kind = uint8_t(options.kind);
  record.iterations = kKeyIterations;
  if (RAND_bytes(record.salt, kSaltBytes) != 1 ||
      hashKey(key, keyLength, record.salt, record.iterations, record.hash) != 0) {
    fprintf(stderr, "libcrypto could not make the key.\n");
    return kFailed;
  }
  char text[kKeyFileLongest] = "# Access keys of the panel server, made by panel-key.\n";
  int length = int(strlen(text));
  for (const KeyRecord* kept : {&keys.control, &keys.view}) {
    if (kept->kind == kAccessNone) continue;
    length += formatKeyRecord(*kept, text + length, int(sizeof text) - length);
  }
  if (!writeWhole(options.file, text, length)) {
    reportUnwritten(options.file, errno);
    OPENSSL_cleanse(key, sizeof key);
    return kFailed;
  }
  char host[kHostLongest + 1] = "localhost";
  gethostname(host, kHostLongest);
  const char* kind = options.kind == kAccessView ? "View" : "Control";
  printf("%s key written to %s.\n", kind, options.file);
  if (options.fromStdin) {
    printOpenLines(host, options.port, " and enter the passphrase.");
  } else {
    char tail[kKeyLongest + 8] = {};
    snprintf(tail, sizeof tail, "#key=%s", key);
    printf("Key: %s\n", key);
    printOpenLines(host, options.port, tail);
    OPENSSL_cleanse(tail, sizeof tail);
    printf("It is shown this once: the file keeps only its hash.\n");
  }
  OPENSSL_cleanse(key, sizeof key);
  return 0;
}
