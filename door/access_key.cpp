// The key file and the key check. The loaded keys are module state, set at
// start and replaced when the file changes, guarded by keyLock; a check
// hashes on a copy, so no lock is held during the ~50-100 ms hash.
#include "door/access_key.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr char kScheme[] = "pbkdf2-sha256";
constexpr char kIdentityLabel[] = "panel key file\n";
constexpr int kPathLongest = 512;

// Where the file is and what it looked like when last read.
struct KeyState {
  char path[kPathLongest] = {};
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec changed = {};
  KeyFile keys;
};

pthread_mutex_t keyLock = PTHREAD_MUTEX_INITIALIZER;
KeyState state;                  // guarded by keyLock
std::atomic<bool> keyOn{false};  // a key file is in use

int valueOf(char c) {
  const char* at = strchr(kAlphabet, c);
  return c != 0 && at != nullptr ? int(at - kAlphabet) : -1;
}

// The next word of a line: [*from, end) up to a space; false when none.
bool nextWord(const char* line, int end, int* from, const char** word, int* length) {
  int at = *from;
  while (at < end && line[at] == ' ') ++at;
  const int start = at;
  while (at < end && line[at] != ' ') ++at;
  *from = at;
  *word = line + start;
  *length = at - start;
  return at > start;
}

bool wordIs(const char* word, int length, const char* text) {
  return int(strlen(text)) == length && memcmp(word, text, size_t(length)) == 0;
}

// One key line into its record; false when malformed.
bool parseLine(const char* line, int end, KeyRecord* record) {
  const char* words[6];
  int lengths[6];
  int count = 0;
  for (int at = 0; count < 6 && nextWord(line, end, &at, &words[count], &lengths[count]);) ++count;
  if (count != 5) return false;
  if (wordIs(words[0], lengths[0], "control")) {
    record->kind = kAccessControl;
  } else if (wordIs(words[0], lengths[0], "view")) {
    record->kind = kAccessView;
  } else {
    return false;
  }
  if (!wordIs(words[1], lengths[1], kScheme) || lengths[2] > 8) return false;
  uint32_t iterations = 0;
  for (int i = 0; i < lengths[2]; ++i) {
    if (words[2][i] < '0' || words[2][i] > '9') return false;
    iterations = iterations * 10 + uint32_t(words[2][i] - '0');
  }
  record->iterations = iterations;
  const bool random = iterations == kRandomKeyIterations;
  return (random || (iterations >= kIterationsLeast && iterations <= kIterationsMost)) &&
         decodeKeyText(words[3], lengths[3], record->salt, kSaltBytes) == kSaltBytes &&
         decodeKeyText(words[4], lengths[4], record->hash, kHashBytes) == kHashBytes;
}

// The file's identity: a digest of the records, so it is the same after a
// restart and different once any key changes.
void deriveIdentity(KeyFile* keys) {
  char text[2 * kKeyLineLongest] = {};
  int length = snprintf(text, sizeof text, "%s", kIdentityLabel);
  for (const KeyRecord* record : {&keys->control, &keys->view}) {
    if (record->kind == kAccessNone) continue;
    const int line = formatKeyRecord(*record, text + length, int(sizeof text) - length);
    if (line > 0) length += line;
  }
  SHA256(reinterpret_cast<const uint8_t*>(text), size_t(length), keys->identity);
}

// Reads the file at state.path when it differs from what was read; the
// caller holds keyLock. A file gone bad refuses everything: no keys, and a
// random identity no cookie was signed with.
void refreshLocked() {
  struct stat now = {};
  const bool seen = stat(state.path, &now) == 0;
  // A file still missing is as it was when last looked at (size -1): it was
  // reported then, and its keys already refuse everything.
  const bool unchanged = seen ? now.st_dev == state.device && now.st_ino == state.inode &&
                                    now.st_size == state.size &&
                                    now.st_mtim.tv_sec == state.changed.tv_sec &&
                                    now.st_mtim.tv_nsec == state.changed.tv_nsec
                              : state.size == -1;
  if (unchanged) return;
  state.device = seen ? now.st_dev : 0;
  state.inode = seen ? now.st_ino : 0;
  state.size = seen ? now.st_size : -1;
  state.changed = seen ? now.st_mtim : timespec{};
  if (loadKeyFile(state.path, &state.keys) == kKeyFileRead) return;
  state.keys = KeyFile{};
  RAND_bytes(state.keys.identity, kHashBytes);
  printf("The key file cannot be read: every key is refused.\n");
}

}  // namespace

int encodeKeyText(const uint8_t* bytes, int count, char* out, int size) {
  const int length = (count * 8 + 5) / 6;
  if (count < 0 || length + 1 > size) return -1;
  uint32_t bits = 0;
  int held = 0;
  int written = 0;
  for (int i = 0; i < count; ++i) {
    bits = (bits << 8) | bytes[i];
    held += 8;
    while (held >= 6) {
      held -= 6;
      out[written++] = kAlphabet[(bits >> held) & 63];
    }
  }
  if (held > 0) out[written++] = kAlphabet[(bits << (6 - held)) & 63];
  out[written] = '\0';
  return written;
}

int decodeKeyText(const char* text, int length, uint8_t* out, int count) {
  if (length != (count * 8 + 5) / 6) return -1;
  uint32_t bits = 0;
  int held = 0;
  int written = 0;
  for (int i = 0; i < length; ++i) {
    const int value = valueOf(text[i]);
    if (value < 0) return -1;
    bits = (bits << 6) | uint32_t(value);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out[written++] = uint8_t(bits >> held);
    }
  }
  // The spare low bits of the last character are zero in the one spelling.
  return (bits & ((1u << held) - 1)) == 0 ? written : -1;
}

int hashKey(const char* key, int length, const uint8_t* salt, uint32_t iterations, uint8_t* hash) {
  const int made = PKCS5_PBKDF2_HMAC(key, length, salt, kSaltBytes, int(iterations), EVP_sha256(),
                                     kHashBytes, hash);
  return made == 1 ? 0 : -1;
}

int formatKeyRecord(const KeyRecord& record, char* out, int size) {
  char salt[kSaltBytes * 2] = {};
  char hash[kHashBytes * 2] = {};
  encodeKeyText(record.salt, kSaltBytes, salt, int(sizeof salt));
  encodeKeyText(record.hash, kHashBytes, hash, int(sizeof hash));
  const int length = snprintf(out, size_t(size), "%s %s %u %s %s\n",
                              record.kind == kAccessView ? "view" : "control", kScheme,
                              record.iterations, salt, hash);
  return length > 0 && length < size ? length : -1;
}

int parseKeyFile(const char* text, int length, KeyFile* keys) {
  *keys = KeyFile{};
  if (length > kKeyFileLongest) return kKeyFileMalformed;
  for (int from = 0; from < length;) {
    int end = from;
    while (end < length && text[end] != '\n') ++end;
    int stop = end;
    if (stop > from && text[stop - 1] == '\r') --stop;
    const bool skipped = stop == from || text[from] == '#';
    if (!skipped) {
      KeyRecord record;
      if (stop - from > kKeyLineLongest || !parseLine(text + from, stop - from, &record)) {
        return kKeyFileMalformed;
      }
      KeyRecord& place = record.kind == kAccessView ? keys->view : keys->control;
      if (place.kind != kAccessNone) return kKeyFileMalformed;  // two keys of one kind
      place = record;
    }
    from = end + 1;
  }
  if (keys->control.kind == kAccessNone && keys->view.kind == kAccessNone) {
    return kKeyFileMalformed;
  }
  deriveIdentity(keys);
  return kKeyFileRead;
}

int loadKeyFile(const char* path, KeyFile* keys) {
  *keys = KeyFile{};
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return errno == ENOENT ? kKeyFileMissing : kKeyFileUnreadable;
  char text[kKeyFileLongest + 1];
  int length = 0;
  for (;;) {
    const ssize_t got = read(file, text + length, sizeof text - size_t(length));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      close(file);
      if (got < 0) return kKeyFileUnreadable;
      break;
    }
    length += int(got);
    if (length == int(sizeof text)) {
      close(file);
      return kKeyFileMalformed;
    }
  }
  return parseKeyFile(text, length, keys);
}

namespace {

constexpr int kRandomKeys = 1;
constexpr int kPassphrases = 2;

// The check among the records of the given speeds (kRandomKeys, kPassphrases).
int checkAmong(const KeyFile& keys, const char* key, int length, int speeds) {
  if (length <= 0 || length > kKeyLongest) return kAccessNone;
  int access = kAccessNone;
  // Both kinds are hashed whatever the first gives, so the time says nothing
  // of which one matched.
  for (const KeyRecord* record : {&keys.control, &keys.view}) {
    const int speed = record->iterations == kRandomKeyIterations ? kRandomKeys : kPassphrases;
    if (record->kind == kAccessNone || (speed & speeds) == 0) continue;
    uint8_t hash[kHashBytes] = {};
    if (hashKey(key, length, record->salt, record->iterations, hash) != 0) continue;
    if (CRYPTO_memcmp(hash, record->hash, kHashBytes) == 0 && access == kAccessNone) {
      access = record->kind;
    }
  }
  return access;
}

}  // namespace

int checkKey(const KeyFile& keys, const char* key, int length) {
  return checkAmong(keys, key, length, kRandomKeys | kPassphrases);
}

int checkRandomKey(const KeyFile& keys, const char* key, int length) {
  return checkAmong(keys, key, length, kRandomKeys);
}

int checkPassphrase(const KeyFile& keys, const char* key, int length) {
  return checkAmong(keys, key, length, kPassphrases);
}

bool writeFileWhole(const char* path, const void* bytes, int length) {
  if (path[0] == '\0') {
    errno = ENOENT;
    return false;
  }
  char temporary[1024];
  if (snprintf(temporary, sizeof temporary, "%s.XXXXXX", path) >= int(sizeof temporary)) {
    errno = ENAMETOOLONG;
    return false;
  }
  const int file = mkstemp(temporary);
  if (file < 0) return false;
  const bool written = fchmod(file, S_IRUSR | S_IWUSR) == 0 &&
                       write(file, bytes, size_t(length)) == ssize_t(length) && fsync(file) == 0;
  const bool closed = close(file) == 0;
  if (!written || !closed || rename(temporary, path) != 0) {
    const int reason = errno;
    unlink(temporary);
    errno = reason;
    return false;
  }
  return true;
}

int useKeyFile(const char* path) {
  pthread_mutex_lock(&keyLock);
  state = KeyState{};
  int result = 0;
  if (path != nullptr) {
    snprintf(state.path, sizeof state.path, "%s", path);
    struct stat now = {};
    if (stat(path, &now) == 0) {
      state.device = now.st_dev;
      state.inode = now.st_ino;
      state.size = now.st_size;
      state.changed = now.st_mtim;
    }
    result = loadKeyFile(path, &state.keys);
  }
  keyOn.store(path != nullptr && result == kKeyFileRead);
  pthread_mutex_unlock(&keyLock);
  return result;
}

int readKeyFileSetting() {
  const char* path = getenv("PANEL_KEY_FILE");
  if (path == nullptr) return 0;
  if (path[0] == '\0' || strlen(path) >= size_t(kPathLongest)) {
    fprintf(stderr, "PANEL_KEY_FILE names no usable file.\n");
    return kKeyFileMissing;
  }
  const int result = useKeyFile(path);
  if (result == kKeyFileRead) return 1;
  const char* reason = result == kKeyFileMissing      ? "it does not exist"
                       : result == kKeyFileUnreadable ? "it cannot be read"
                                                      : "it holds no valid key line";
  fprintf(stderr, "Key file %s (PANEL_KEY_FILE): %s. Make one with: panel-key %s\n", path, reason,
          path);
  return result;
}

bool accessKeyOn() {
  return keyOn.load();
}

void currentKeys(KeyFile* keys) {
  pthread_mutex_lock(&keyLock);
  if (keyOn.load()) refreshLocked();
  *keys = state.keys;
  pthread_mutex_unlock(&keyLock);
}
