// The limit on key guessing. Every key check (a login, or an upgrade with
// Authorization) takes a try first; a right key gives it back. Too many
// tries in a window lock the address out, and too many from everywhere lock
// every key check out, each answered 429 with Retry-After:
//   - kGuessesPerAddress wrong keys from one address within kGuessWindow
//     seconds lock that address for kAddressLockSeconds;
//   - kGuessesInAll wrong keys within kGuessWindow lock every address for
//     kAllLockSeconds.
// A person who mistypes gets five tries a minute; a guesser gets at most 30 a
// minute from everywhere, which also bounds the hashing to about 3 s of a
// 1 GHz core per minute. Session cookies are not limited: the owner's
// signed-in browsers keep working during a lock-out.
// Addresses live in a fixed table; when it is full, the entry whose window
// ended longest ago is reused (a locked entry only when all are locked; the
// whole-server count still holds).
#pragma once

#include <cstdint>

constexpr int kGuessesPerAddress = 5;
constexpr int kGuessesInAll = 30;
constexpr int64_t kGuessWindow = 60;
constexpr int64_t kAddressLockSeconds = 300;
constexpr int64_t kAllLockSeconds = 60;
constexpr int kGuessTable = 32;
constexpr int kAddressBytes = 16;  // IPv6, or IPv4 mapped into it

// Before a key check at monotonic second `now`: 0 when the check may go on
// (its try counted), else the seconds to wait.
int64_t takeGuess(const uint8_t* address, int64_t now);
// After a right key: the try is given back.
void giveGuessBack(const uint8_t* address, int64_t now);
// Forgets every try (tests).
void clearGuesses();
