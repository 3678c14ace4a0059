// The limit on key guessing. Every check of a passphrase or a wrong key (a
// login, or an upgrade with Authorization) takes a try first; a right one
// gives it back. A right random key is let in before the limit
// (door/http_access.h). A try that
// may not be taken is answered 429 with Retry-After, the seconds until it may.
//
// A source is one IPv4 address, or one IPv6 /64 (a single host holds a whole
// /64, so counting its addresses one by one would give it as many as it
// likes; a device in a guesser's /64 shares its limit).
//   1. Each source has a bucket of kGuessBurst tries that gains one back
//      every kGuessRefillSeconds: five at once, then one a minute. The bucket
//      is continuous, so no window edge lets a burst through.
//   2. A wrong key stays on the source's record for kRecordSeconds after its
//      last one. A source with kCleanStrikes or more on record, or one the
//      full table cannot remember, also takes a try from one bucket shared by
//      all such sources: kSharedBurst at once, one back every kSharedRefillMs.
//   3. A source with a clean record skips the shared bucket, so the owner's
//      right key from a device that has not been guessing is checked at once
//      however many sources guess. A right key clears its source's record.
//   4. The table remembers kGuessTable sources. A source with a wrong key on
//      record is never dropped to make room (it would come back clean), only
//      one whose record is clean.
// The hashing stays bounded: sources on record share 30 checks a minute, and
// a source makes at most kCleanStrikes checks before it is on record for 15
// minutes in a table of 256, so new sources add at most 512 checks a quarter
// hour (34 a minute). Both keys' hashes are about 140 ms of a 1 GHz ARM core,
// so under a sustained guessing attack from any number of addresses the
// checks take at most about 15 % of one core. Session cookies are not
// limited: the owner's signed-in browsers keep working throughout.
#pragma once

#include <cstdint>

constexpr int kGuessBurst = 5;
constexpr int64_t kGuessRefillSeconds = 60;
constexpr int kCleanStrikes = 2;  // one mistyped key does not put the owner on record
constexpr int64_t kRecordSeconds = 15 * 60;
constexpr int kSharedBurst = 10;
constexpr int64_t kSharedRefillMs = 2000;  // 30 a minute
constexpr int kGuessTable = 256;
constexpr int kAddressBytes = 16;  // IPv6, or IPv4 mapped into it

// Before a key check at monotonic millisecond `nowMs`: 0 when the check may
// go on (its try counted as a wrong key until given back), else the seconds
// to wait.
int64_t takeGuess(const uint8_t* address, int64_t nowMs);
// After a right key: the try is given back and the source's record cleared.
void giveGuessBack(const uint8_t* address, int64_t nowMs);
// Forgets every try (tests).
void clearGuesses();
