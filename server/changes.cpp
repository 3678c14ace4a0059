// The change stream's offer, staging, encoder and history.
//
// A span whose new bytes equal the previous span's goes out as a repeat,
// with no bytes: the rows of a filled rectangle, or of a button's face,
// cost a header each.
//
// A span goes out as the new bytes or as the XOR with the held bytes by a
// cheap estimate of which compresses smaller: the count of bytes that differ
// from the byte one pixel earlier. A shape drawn in one colour over a
// photograph repeats in its new bytes and not in its XOR; a small shift of
// colour over a smooth area repeats in its XOR.
#include "server/changes.h"

#include <algorithm>
#include <cstring>

#include "server/extensions.h"

namespace {

void put32(uint8_t* at, uint32_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
  at[2] = uint8_t(value >> 16);
  at[3] = uint8_t(value >> 24);
}

void putHeader(uint8_t* out, uint32_t from, uint32_t to, uint32_t fileLength, uint32_t count) {
  out[0] = kChangeFormat;
  out[1] = 0;
  put32(out + 2, from);
  put32(out + 6, to);
  put32(out + 10, fileLength);
  put32(out + 14, count);
}

// The first index at or after `at` below `end` whose byte is not 0, else end.
uint32_t nextChanged(const uint8_t* bytes, uint32_t at, uint32_t end) {
  uint64_t word = 0;
  while (at + sizeof word <= end) {
    memcpy(&word, bytes + at, sizeof word);
    if (word != 0) break;
    at += sizeof word;
  }
  while (at < end && bytes[at] == 0) ++at;
  return at;
}

// The first index at or after `at` below `end` whose byte is 0, else end.
uint32_t nextUnchanged(const uint8_t* bytes, uint32_t at, uint32_t end) {
  if (at >= end) return end;
  const void* zero = memchr(bytes + at, 0, end - at);
  return zero != nullptr ? uint32_t(static_cast<const uint8_t*>(zero) - bytes) : end;
}

// True when the XOR of a span is estimated to compress smaller than its new
// bytes: fewer bytes differ from the byte one pixel before.
bool xorIsSmaller(const uint8_t* xorBytes, const uint8_t* newBytes, uint32_t length,
                  uint32_t step) {
  uint32_t xorMisses = 0;
  uint32_t newMisses = 0;
  for (uint32_t k = 0; k < length; ++k) {
    if (k < step) {
      xorMisses += xorBytes[k] != 0;
      newMisses += 1;
    } else {
      xorMisses += xorBytes[k] != xorBytes[k - step];
      newMisses += newBytes[k] != newBytes[k - step];
    }
  }
  return xorMisses < newMisses;
}

// The message being written: its bytes, their bound and the spans listed.
struct Writer {
  uint8_t* out;
  uint32_t limit;
  uint32_t at;
  ByteSpan* spans;
  int maxSpans;
  int count;
  uint32_t end;  // where the previous span ended, 0 before the first
  ByteSpan previous;
};

// Appends one span; xorBytes null sends the new bytes. A result of
// encodeChange when it does not fit, else 0.
int putSpan(Writer& w, ByteSpan span, const uint8_t* xorBytes, const uint8_t* held, uint32_t step) {
  if (w.count == w.maxSpans) return kChangeTooMany;
  if (uint64_t(w.at) + kSpanHeaderSize + span.length >= w.limit) return kChangeTooLarge;
  const uint8_t* newBytes = held + span.offset;
  const bool repeat = w.count > 0 && span.length == w.previous.length &&
                      memcmp(newBytes, held + w.previous.offset, span.length) == 0;
  const bool asXor =
      !repeat && xorBytes != nullptr && xorIsSmaller(xorBytes, newBytes, span.length, step);
  uint8_t* at = w.out + w.at;
  put32(at, span.offset - w.end);
  put32(at + 4, span.length);
  at[8] = repeat ? kSpanRepeat : asXor ? kSpanXor : kSpanNew;
  const uint32_t carried = repeat ? 0 : span.length;
  memcpy(at + kSpanHeaderSize, asXor ? xorBytes : newBytes, carried);
  w.at += kSpanHeaderSize + carried;
  w.end = span.offset + span.length;
  w.previous = span;
  if (w.spans != nullptr) w.spans[w.count] = span;
  w.count++;
  return 0;
}

}  // namespace

int chooseChangesOffer(const char* offers, size_t length) {
  if (offers == nullptr) return kOfferPictures;
  const size_t end = strnlen(offers, length);
  const auto names = [](const char* entry, size_t entryLength, const char* name) {
    return entryLength == strlen(name) && memcmp(entry, name, entryLength) == 0;
  };
  int offer = kOfferPictures;
  size_t start = 0;
  while (start <= end) {
    const char* comma = static_cast<const char*>(memchr(offers + start, ',', end - start));
    const size_t stop = comma != nullptr ? size_t(comma - offers) : end;
    if (names(offers + start, stop - start, kControlsProtocol)) return kOfferControls;
    if (names(offers + start, stop - start, kChangesProtocol)) offer = kOfferChanges;
    start = stop + 1;
  }
  return offer;
}

int addAcceptedProtocol(char* reply, int replyLen, size_t replySize, int offer) {
  static constexpr char kChangesLine[] = "Sec-WebSocket-Protocol: panel-changes-v1";
  static constexpr char kControlsLine[] = "Sec-WebSocket-Protocol: panel-controls-v1";
  if (offer == kOfferChanges) return addReplyLine(reply, replyLen, replySize, kChangesLine);
  if (offer == kOfferControls) return addReplyLine(reply, replyLen, replySize, kControlsLine);
  return replyLen;
}

bool stageSegment(ChangeStage* stage, const uint8_t* picture, uint8_t* held, uint32_t from,
                  uint32_t to) {
  if (from >= to || memcmp(held + from, picture + from, to - from) == 0) return false;
  if (stage->count == kStageSegments) {
    // Full: the last segment grows to reach this one, the bytes between
    // compared with the rest. Segments come in file order.
    ByteSpan& last = stage->segments[kStageSegments - 1];
    from = last.offset + last.length;
    last.length = to - last.offset;
  } else {
    stage->segments[stage->count++] = ByteSpan{from, to - from};
  }
  uint8_t* out = stage->xorBytes + stage->used;
  const uint8_t* oldBytes = held + from;
  const uint8_t* newBytes = picture + from;
  for (uint32_t k = 0; k < to - from; ++k) out[k] = oldBytes[k] ^ newBytes[k];
  memcpy(held + from, picture + from, to - from);
  stage->used += to - from;
  return true;
}

int encodeChange(const ChangeStage& stage, const uint8_t* held, uint32_t fileLength,
                 uint32_t bytesPerPixel, uint32_t from, uint32_t to, uint8_t* out, ByteSpan* spans,
                 int maxSpans, int* spanCount) {
  if (fileLength <= kChangeHeaderSize) return kChangeTooLarge;
  const uint32_t step = bytesPerPixel == 0 ? 1 : bytesPerPixel;
  Writer w{out, fileLength, kChangeHeaderSize, spans, maxSpans, 0, 0, {}};
  const uint8_t* xorBytes = stage.xorBytes;
  for (int s = 0; s < stage.count; ++s) {
    const ByteSpan segment = stage.segments[s];
    uint32_t i = nextChanged(xorBytes, 0, segment.length);
    while (i < segment.length) {
      // The run ends where more than kMergeGap unchanged bytes follow.
      uint32_t end = nextUnchanged(xorBytes, i, segment.length);
      while (end < segment.length) {
        const uint32_t next = nextChanged(xorBytes, end, segment.length);
        if (next == segment.length || next - end > kMergeGap) break;
        end = nextUnchanged(xorBytes, next, segment.length);
      }
      const int put = putSpan(w, ByteSpan{segment.offset + i, end - i}, xorBytes + i, held, step);
      if (put < 0) return put;
      i = nextChanged(xorBytes, end, segment.length);
    }
    xorBytes += segment.length;
  }
  putHeader(out, from, to, fileLength, uint32_t(w.count));
  *spanCount = w.count;
  return int(w.at);
}

void noteVersion(ChangeHistory* history, uint32_t version, const ByteSpan* spans, int count) {
  HistoryEntry& entry = history->entries[version % kHistoryVersions];
  entry.version = version;
  entry.count = count <= kHistorySpans ? count : -1;
  if (entry.count > 0) memcpy(entry.spans, spans, sizeof(ByteSpan) * size_t(entry.count));
}

int unionMessage(ChangeHistory* history, uint32_t from, uint32_t to, const uint8_t* held,
                 uint32_t fileLength, uint8_t* out) {
  ByteSpan* gathered = history->gathered;
  int count = 0;
  int steps = 0;
  for (uint32_t v = to; v != from; v = pictureVersionBefore(v)) {
    const HistoryEntry& entry = history->entries[v % kHistoryVersions];
    if (++steps > kHistoryVersions || entry.version != v || entry.count < 0) {
      return kChangeTooMany;
    }
    memcpy(gathered + count, entry.spans, sizeof(ByteSpan) * size_t(entry.count));
    count += entry.count;
  }
  std::sort(gathered, gathered + count,
            [](const ByteSpan& a, const ByteSpan& b) { return a.offset < b.offset; });
  if (fileLength <= kChangeHeaderSize) return kChangeTooLarge;
  Writer w{out, fileLength, kChangeHeaderSize, nullptr, INT32_MAX, 0, 0, {}};
  int i = 0;
  while (i < count) {
    uint32_t start = gathered[i].offset;
    uint64_t end = uint64_t(start) + gathered[i].length;
    // Overlapping spans, and spans closer than kMergeGap, become one.
    while (++i < count && gathered[i].offset <= end + kMergeGap) {
      end = std::max<uint64_t>(end, uint64_t(gathered[i].offset) + gathered[i].length);
    }
    if (end > fileLength) return kChangeTooMany;
    const int put = putSpan(w, ByteSpan{start, uint32_t(end - start)}, nullptr, held, 1);
    if (put < 0) return put;
  }
  putHeader(out, from, to, fileLength, uint32_t(w.count));
  return int(w.at);
}
