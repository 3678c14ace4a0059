// Reading the first read as an HTTP request. A header counts only at the
// start of a line of the header block (never in the request line or past the
// blank line), its name compared without case, so "X-Origin:" or a value
// holding "Origin:" is not taken for it.
#include "door/http_request.h"

#include <cstring>

namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool sameLetters(const char* a, const char* b, int length) {
  for (int i = 0; i < length; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Index just past the end of the line that starts at `from` (past its LF), or
// `length` when the line is cut.
int lineEnd(const char* text, int length, int from) {
  const void* found = memchr(text + from, '\n', size_t(length - from));
  return found ? int(static_cast<const char*>(found) - text) + 1 : length;
}

bool isBlankLine(const char* text, int from, int end) {
  const int size = end - from;
  return (size == 1 && text[from] == '\n') ||
         (size == 2 && text[from] == '\r' && text[from + 1] == '\n');
}

// Takes one header line [from, end) into `header` when it names `name`.
void takeIfNamed(const char* text, int from, int end, bool cut, const char* name,
                 HeaderValue* header) {
  const int nameLength = int(strlen(name));
  if (end - from <= nameLength || text[from + nameLength] != ':' ||
      !sameLetters(text + from, name, nameLength)) {
    return;
  }
  int start = from + nameLength + 1;
  int stop = end;
  while (stop > start && (text[stop - 1] == '\n' || text[stop - 1] == '\r')) --stop;
  while (start < stop && (text[start] == ' ' || text[start] == '\t')) ++start;
  while (stop > start && (text[stop - 1] == ' ' || text[stop - 1] == '\t')) --stop;
  header->last = {text + start, stop - start};
  if (header->count++ > 0) return;
  header->value = header->last;
  header->whole = !cut;
}

// The method and the path of the request line; false when the read does not
// open with one.
bool readRequestLine(const char* text, int length, HttpRequest* request) {
  int at = 0;
  while (at < length && at <= kMethodLongest && text[at] >= 'A' && text[at] <= 'Z') ++at;
  if (at == 0 || at > kMethodLongest || at >= length || text[at] != ' ') return false;
  request->method = {text, at};
  const int pathStart = at + 1;
  int pathEnd = pathStart;
  while (pathEnd < length && text[pathEnd] != ' ' && text[pathEnd] != '\r' &&
         text[pathEnd] != '\n' && text[pathEnd] != '?' && text[pathEnd] != '#') {
    ++pathEnd;
  }
  request->path = {text + pathStart, pathEnd - pathStart};
  return true;
}

}  // namespace

bool spanIs(TextSpan span, const char* word) {
  const int length = int(strlen(word));
  return span.length == length && sameLetters(span.text, word, length);
}

bool spanEquals(TextSpan span, const char* word) {
  const int length = int(strlen(word));
  return span.length == length && memcmp(span.text, word, size_t(length)) == 0;
}

TextSpan nextListItem(TextSpan list, int* from, char separator) {
  int end = *from;
  while (end < list.length && list.text[end] != separator) ++end;
  int start = *from;
  while (start < end && list.text[start] == ' ') ++start;
  int stop = end;
  while (stop > start && list.text[stop - 1] == ' ') --stop;
  *from = end + 1;
  return {list.text + start, stop - start};
}

bool spansMatch(TextSpan a, TextSpan b) {
  return a.length == b.length && sameLetters(a.text, b.text, a.length);
}

bool spanHas(TextSpan span, const char* word) {
  const int length = int(strlen(word));
  for (int i = 0; i + length <= span.length; ++i) {
    if (sameLetters(span.text + i, word, length)) return true;
  }
  return false;
}

namespace {

// The headers the server reads, each kept in its field of HttpRequest.
constexpr struct {
  const char* name;
  HeaderValue HttpRequest::*field;
} kKeptHeaders[] = {
    {"Host", &HttpRequest::host},
    {"Origin", &HttpRequest::origin},
    {"Upgrade", &HttpRequest::upgrade},
    {"Sec-WebSocket-Key", &HttpRequest::key},
    {"Sec-WebSocket-Version", &HttpRequest::version},
    {"Sec-WebSocket-Extensions", &HttpRequest::extensions},
    {"Sec-WebSocket-Protocol", &HttpRequest::protocols},
    {"Content-Length", &HttpRequest::contentLength},
    {"Cookie", &HttpRequest::cookie},
    {"Authorization", &HttpRequest::authorization},
    {"X-Forwarded-For", &HttpRequest::forwardedFor},
    {"Forwarded", &HttpRequest::forwarded},
    {"Sec-Fetch-Site", &HttpRequest::fetchSite},
};

}  // namespace

HttpRequest readHttpRequest(const uint8_t* bytes, int length) {
  HttpRequest request;
  const char* text = reinterpret_cast<const char*>(bytes);
  if (length <= 0) return request;
  request.isHttp = readRequestLine(text, length, &request);
  int from = request.isHttp ? lineEnd(text, length, 0) : 0;
  while (from < length) {
    const int end = lineEnd(text, length, from);
    if (isBlankLine(text, from, end)) {
      request.headersComplete = true;
      request.bodyStart = end;
      break;
    }
    const bool cut = end == length && text[end - 1] != '\n';
    for (const auto& kept : kKeptHeaders) {
      takeIfNamed(text, from, end, cut, kept.name, &(request.*kept.field));
    }
    from = end;
  }
  return request;
}

namespace {

// The value after "name=" in a list of `separator`-split items, spaces
// around each item dropped.
TextSpan listValue(TextSpan list, const char* name, char separator) {
  const int nameLength = int(strlen(name));
  for (int from = 0; from < list.length;) {
    const TextSpan item = nextListItem(list, &from, separator);
    if (item.length > nameLength && item.text[nameLength] == '=' &&
        memcmp(item.text, name, size_t(nameLength)) == 0) {
      return {item.text + nameLength + 1, item.length - nameLength - 1};
    }
  }
  return {};
}

// Percent-decodes value into out; "+" is a space in a form, itself in a
// path. Its length, or -1 when it does not fit or holds a bad escape (or,
// in a path, an escaped NUL).
int percentDecode(TextSpan value, char* out, int size, bool form) {
  int written = 0;
  for (int i = 0; i < value.length; ++i) {
    if (written + 1 >= size) return -1;
    char c = value.text[i];
    if (c == '+' && form) {
      c = ' ';
    } else if (c == '%') {
      const int high = i + 2 < value.length ? hexDigitValue(value.text[i + 1]) : -1;
      const int low = high >= 0 ? hexDigitValue(value.text[i + 2]) : -1;
      if (low < 0) return -1;
      c = char(high * 16 + low);
      if (c == '\0' && !form) return -1;
      i += 2;
    }
    out[written++] = c;
  }
  if (size > 0) out[written] = '\0';
  return size > 0 ? written : -1;
}

}  // namespace

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char l = lower(c);
  return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

TextSpan cookieValue(TextSpan header, const char* name) {
  return listValue(header, name, ';');
}

TextSpan bearerToken(TextSpan header) {
  constexpr int kSchemeLength = 7;  // "Bearer "
  if (header.length <= kSchemeLength || !sameLetters(header.text, "Bearer ", kSchemeLength)) {
    return {};
  }
  int start = kSchemeLength;
  while (start < header.length && header.text[start] == ' ') ++start;
  return {header.text + start, header.length - start};
}

TextSpan formField(TextSpan body, const char* name) {
  return listValue(body, name, '&');
}

int formDecode(TextSpan value, char* out, int size) {
  return percentDecode(value, out, size, true);
}

int pathDecode(TextSpan value, char* out, int size) {
  return percentDecode(value, out, size, false);
}

int contentLengthOf(TextSpan value, int most) {
  if (value.length == 0) return -1;
  int length = 0;
  for (int i = 0; i < value.length; ++i) {
    const char c = value.text[i];
    if (c < '0' || c > '9') return -1;
    length = length * 10 + (c - '0');
    if (length > most) return -1;
  }
  return length;
}
