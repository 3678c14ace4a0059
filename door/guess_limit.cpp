// The table of addresses and their tries, under its own lock; the lock is
// held for the bookkeeping only, never while a key is hashed.
#include "door/guess_limit.h"

#include <pthread.h>

#include <cstring>

namespace {

struct Guesser {
  uint8_t address[kAddressBytes];
  int64_t windowStart;
  int64_t lockedUntil;
  int tries;
  bool used;
};

struct GuessState {
  Guesser table[kGuessTable];
  int64_t windowStart;
  int64_t lockedUntil;
  int tries;
};

pthread_mutex_t guessLock = PTHREAD_MUTEX_INITIALIZER;
GuessState guesses;  // guarded by guessLock

// How readily an entry is given to a new address: free ones first, then
// unlocked ones, then locked ones; the oldest window first among equals.
int keepRank(const Guesser& entry, int64_t now) {
  return !entry.used ? 0 : entry.lockedUntil <= now ? 1 : 2;
}

Guesser* entryFor(const uint8_t* address, int64_t now, bool create) {
  Guesser* reuse = nullptr;
  for (Guesser& entry : guesses.table) {
    if (entry.used && memcmp(entry.address, address, kAddressBytes) == 0) return &entry;
    if (reuse == nullptr || keepRank(entry, now) < keepRank(*reuse, now) ||
        (keepRank(entry, now) == keepRank(*reuse, now) && entry.windowStart < reuse->windowStart)) {
      reuse = &entry;
    }
  }
  if (!create) return nullptr;
  *reuse = Guesser{};
  memcpy(reuse->address, address, kAddressBytes);
  reuse->used = true;
  reuse->windowStart = now;
  return reuse;
}

// Starts a new window when the last one is over.
void roll(int64_t* windowStart, int* tries, int64_t now) {
  if (now - *windowStart >= kGuessWindow) {
    *windowStart = now;
    *tries = 0;
  }
}

}  // namespace

int64_t takeGuess(const uint8_t* address, int64_t now) {
  pthread_mutex_lock(&guessLock);
  Guesser* entry = entryFor(address, now, true);
  int64_t wait = 0;
  if (guesses.lockedUntil > now) wait = guesses.lockedUntil - now;
  if (entry->lockedUntil > now && entry->lockedUntil - now > wait) wait = entry->lockedUntil - now;
  if (wait == 0) {
    roll(&guesses.windowStart, &guesses.tries, now);
    roll(&entry->windowStart, &entry->tries, now);
    // The try that reaches a limit is still checked; the next one waits.
    if (++guesses.tries >= kGuessesInAll) guesses.lockedUntil = now + kAllLockSeconds;
    if (++entry->tries >= kGuessesPerAddress) entry->lockedUntil = now + kAddressLockSeconds;
  }
  pthread_mutex_unlock(&guessLock);
  return wait;
}

void giveGuessBack(const uint8_t* address, int64_t now) {
  pthread_mutex_lock(&guessLock);
  Guesser* entry = entryFor(address, now, false);
  if (entry != nullptr && entry->tries > 0 && --entry->tries < kGuessesPerAddress) {
    entry->lockedUntil = 0;
  }
  if (guesses.tries > 0 && --guesses.tries < kGuessesInAll) guesses.lockedUntil = 0;
  pthread_mutex_unlock(&guessLock);
}

void clearGuesses() {
  pthread_mutex_lock(&guessLock);
  guesses = GuessState{};
  pthread_mutex_unlock(&guessLock);
}
