// The table of sources and the shared bucket, under one lock held for the
// bookkeeping only, never while a key is hashed. A bucket is kept as the
// time it will be full again: taking a try moves that time one refill later,
// and a try may be taken while the bucket is short of full by less than its
// whole size.
#include "door/guess_limit.h"

#include <pthread.h>

#include <cstring>

namespace {

constexpr int64_t kGuessRefillMs = kGuessRefillSeconds * 1000;
constexpr int64_t kRecordMs = kRecordSeconds * 1000;

struct Bucket {
  int64_t fullAt = 0;  // monotonic milliseconds
};

struct Source {
  uint8_t prefix[kAddressBytes];  // the address, an IPv6 one cut to its /64
  Bucket bucket;
  int64_t recordUntil;  // the wrong keys on record are forgotten then
  int strikes;          // wrong keys on record (a try in flight counts)
  bool used;
};

struct GuessState {
  Source table[kGuessTable];
  Bucket shared;
};

pthread_mutex_t guessLock = PTHREAD_MUTEX_INITIALIZER;
GuessState guesses;  // guarded by guessLock

// The milliseconds until the bucket of `burst` tries refilled every
// `refillMs` has a try, 0 when it has one now.
int64_t waitFor(const Bucket& bucket, int burst, int64_t refillMs, int64_t nowMs) {
  const int64_t wait = bucket.fullAt - (burst - 1) * refillMs - nowMs;
  return wait > 0 ? wait : 0;
}

void take(Bucket* bucket, int64_t refillMs, int64_t nowMs) {
  bucket->fullAt = (bucket->fullAt > nowMs ? bucket->fullAt : nowMs) + refillMs;
}

// IPv4 (mapped as ::ffff:a.b.c.d) keeps the whole address; IPv6 its /64.
void prefixOf(const uint8_t* address, uint8_t* prefix) {
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  memcpy(prefix, address, kAddressBytes);
  if (memcmp(address, kMapped, sizeof kMapped) != 0) memset(prefix + 8, 0, kAddressBytes - 8);
}

void forgetOldRecord(Source* source, int64_t nowMs) {
  if (source->recordUntil <= nowMs) source->strikes = 0;
}

// How readily an entry is given to a new source: free ones first (nothing on
// record and a full bucket), then clean ones still refilling (a source whose
// right key cleared its record); one with a wrong key on record never (-1).
int reuseRank(Source* source, int64_t nowMs) {
  if (!source->used) return 0;
  forgetOldRecord(source, nowMs);
  if (source->strikes > 0) return -1;
  return source->bucket.fullAt <= nowMs ? 0 : 1;
}

// The source's entry; a new one when `make` and there is room, else null.
Source* sourceFor(const uint8_t* prefix, int64_t nowMs, bool make) {
  Source* reuse = nullptr;
  int reuseAt = 2;
  for (Source& source : guesses.table) {
    if (source.used && memcmp(source.prefix, prefix, kAddressBytes) == 0) {
      forgetOldRecord(&source, nowMs);
      return &source;
    }
    const int rank = reuseRank(&source, nowMs);
    if (rank >= 0 &&
        (rank < reuseAt || (rank == reuseAt && source.bucket.fullAt < reuse->bucket.fullAt))) {
      reuse = &source;
      reuseAt = rank;
    }
  }
  if (!make || reuse == nullptr) return nullptr;
  *reuse = Source{};
  memcpy(reuse->prefix, prefix, kAddressBytes);
  reuse->used = true;
  return reuse;
}

int64_t secondsUp(int64_t ms) {
  return (ms + 999) / 1000;
}

}  // namespace

int64_t takeGuess(const uint8_t* address, int64_t nowMs) {
  uint8_t prefix[kAddressBytes];
  prefixOf(address, prefix);
  pthread_mutex_lock(&guessLock);
  Source* source = sourceFor(prefix, nowMs, true);
  const bool onRecord = source == nullptr || source->strikes >= kCleanStrikes;
  int64_t wait =
      source != nullptr ? waitFor(source->bucket, kGuessBurst, kGuessRefillMs, nowMs) : 0;
  if (onRecord) {
    const int64_t shared = waitFor(guesses.shared, kSharedBurst, kSharedRefillMs, nowMs);
    if (shared > wait) wait = shared;
  }
  if (wait == 0) {
    if (onRecord) take(&guesses.shared, kSharedRefillMs, nowMs);
    if (source != nullptr) {
      take(&source->bucket, kGuessRefillMs, nowMs);
      source->strikes++;
      source->recordUntil = nowMs + kRecordMs;
    }
  }
  pthread_mutex_unlock(&guessLock);
  return secondsUp(wait);
}

void giveGuessBack(const uint8_t* address, int64_t nowMs) {
  uint8_t prefix[kAddressBytes];
  prefixOf(address, prefix);
  pthread_mutex_lock(&guessLock);
  Source* source = sourceFor(prefix, nowMs, false);
  if (source != nullptr) {
    source->bucket.fullAt -= kGuessRefillMs;
    source->strikes = 0;
  }
  pthread_mutex_unlock(&guessLock);
}

void clearGuesses() {
  pthread_mutex_lock(&guessLock);
  guesses = GuessState{};
  pthread_mutex_unlock(&guessLock);
}
