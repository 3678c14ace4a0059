// The record of ended sessions, in memory under revokedLock and in its file,
// written under writeLock (taken before revokedLock, never while holding it).
#include "door/revoked_sessions.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "door/access_key.h"
#include "door/session_cookie.h"

namespace {

constexpr int kPathLongest = 512;

struct Revoked {
  uint32_t issued;  // 0: a free place
  uint8_t nonce[kNonceBytes];
};

struct Revocations {
  uint32_t floor = 0;  // tokens issued at or before it are refused
  Revoked places[kRevokedMost] = {};
  char path[kPathLongest] = {};  // "" while kept in memory only
};

pthread_mutex_t revokedLock = PTHREAD_MUTEX_INITIALIZER;
Revocations revoked;                                    // guarded by revokedLock
pthread_mutex_t writeLock = PTHREAD_MUTEX_INITIALIZER;  // one write of the file at a time

uint32_t readWord(const uint8_t* bytes) {
  return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

void writeWord(uint32_t word, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(word >> (24 - 8 * i));
}

// The file's bytes into the record; false unless they are exactly one.
bool readRecord(const char* path, Revocations* record) {
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return errno == ENOENT;  // none yet: nothing ended
  uint8_t bytes[kRevokedFileBytes + 1];
  int length = 0;
  for (;;) {
    const ssize_t got = read(file, bytes + length, sizeof bytes - size_t(length));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += int(got);
    if (length == int(sizeof bytes)) break;
  }
  close(file);
  if (length != kRevokedFileBytes) return false;
  record->floor = readWord(bytes);
  for (int i = 0; i < kRevokedMost; ++i) {
    const uint8_t* place = bytes + 4 + i * (4 + kNonceBytes);
    record->places[i].issued = readWord(place);
    memcpy(record->places[i].nonce, place + 4, kNonceBytes);
  }
  return true;
}

bool writeRecord(const Revocations& record) {
  uint8_t bytes[kRevokedFileBytes] = {};
  writeWord(record.floor, bytes);
  for (int i = 0; i < kRevokedMost; ++i) {
    uint8_t* place = bytes + 4 + i * (4 + kNonceBytes);
    writeWord(record.places[i].issued, place);
    memcpy(place + 4, record.places[i].nonce, kNonceBytes);
  }
  return writeFileWhole(record.path, bytes, kRevokedFileBytes);
}

bool expired(uint32_t issued, int64_t now) {
  return now - int64_t(issued) >= kSessionSeconds;
}

// The caller holds revokedLock.
bool revokedLocked(uint32_t issued, const uint8_t* nonce) {
  bool found = issued <= revoked.floor;
  for (const Revoked& place : revoked.places) {
    found = found || (place.issued == issued && memcmp(place.nonce, nonce, kNonceBytes) == 0);
  }
  return found;
}

}  // namespace

void keepRevocations(const char* secretPath, bool fromFile, int64_t now) {
  pthread_mutex_lock(&revokedLock);
  revoked = Revocations{};
  if (secretPath != nullptr) {
    const char* slash = strrchr(secretPath, '/');
    const int folder = slash != nullptr ? int(slash - secretPath) + 1 : 0;
    snprintf(revoked.path, sizeof revoked.path, "%.*s%s", folder, secretPath, kRevokedFile);
    if (fromFile && !readRecord(revoked.path, &revoked)) {
      revoked = Revocations{};
      snprintf(revoked.path, sizeof revoked.path, "%.*s%s", folder, secretPath, kRevokedFile);
      revoked.floor = uint32_t(now);
      printf("The ended sessions cannot be read from %s: every session from before now ends.\n",
             revoked.path);
    }
  }
  pthread_mutex_unlock(&revokedLock);
}

bool sessionRevoked(uint32_t issued, const uint8_t* nonce) {
  pthread_mutex_lock(&revokedLock);
  const bool found = revokedLocked(issued, nonce);
  pthread_mutex_unlock(&revokedLock);
  return found;
}

void revokeSession(uint32_t issued, const uint8_t* nonce, int64_t now) {
  pthread_mutex_lock(&revokedLock);
  if (revokedLocked(issued, nonce)) {
    pthread_mutex_unlock(&revokedLock);
    return;
  }
  // A free place, one whose token is past its age, or else the earliest.
  Revoked* chosen = &revoked.places[0];
  for (Revoked& place : revoked.places) {
    if (place.issued == 0 || expired(place.issued, now)) {
      chosen = &place;
      break;
    }
    if (place.issued < chosen->issued) chosen = &place;
  }
  if (chosen->issued != 0 && !expired(chosen->issued, now) && chosen->issued > revoked.floor) {
    revoked.floor = chosen->issued;
  }
  chosen->issued = issued;
  memcpy(chosen->nonce, nonce, kNonceBytes);
  pthread_mutex_unlock(&revokedLock);
  // The file is written with only writeLock held, so cookie checks do not
  // wait for the disk; each write takes the record as it then is, so the
  // last one holds every logout before it.
  pthread_mutex_lock(&writeLock);
  pthread_mutex_lock(&revokedLock);
  const Revocations record = revoked;
  pthread_mutex_unlock(&revokedLock);
  if (record.path[0] != '\0' && !writeRecord(record)) {
    printf(
        "The ended sessions cannot be written to %s: a signed-out session returns after a "
        "restart.\n",
        record.path);
  }
  pthread_mutex_unlock(&writeLock);
}
