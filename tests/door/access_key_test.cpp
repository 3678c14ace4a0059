// The access key: panel-key's file, the request readers, the session token
// and the guessing limit on their own; then the real server with a key file:
// a table of upgrades and posts with and without credentials and a view
// session whose reports change nothing, the limit on wrong keys, and a
// session kept over a restart and ended by a new key.
#include "door/access_key.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "door/guess_limit.h"
#include "door/http_access.h"
#include "door/http_request.h"
#include "door/revoked_sessions.h"
#include "door/session_cookie.h"
#include "support/test_support.h"
#include "tools/peer/clock.h"
#include "tools/peer/server_process.h"
#include "tools/peer/viewer.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kAnswerMs = 4000;
constexpr int32_t kCircleX = 50, kButtonY = 20;  // the panel's "circle" button
constexpr int kClickMs = 5000;
constexpr const char* kUpgrade =
    "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";

std::string fileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TextSpan span(const std::string& text) {
  return {text.data(), int(text.size())};
}

std::string text(TextSpan value) {
  return {value.text, size_t(value.length)};
}

// The bytes sent on `fd` that the server has not read yet: the receive queue
// of the server's end of the loopback connection, from the kernel's table;
// -1 when that end is not found.
long unreadByServer(int fd) {
  sockaddr_in ours{}, theirs{};
  socklen_t size = sizeof ours;
  getsockname(fd, reinterpret_cast<sockaddr*>(&ours), &size);
  size = sizeof theirs;
  getpeername(fd, reinterpret_cast<sockaddr*>(&theirs), &size);
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    unsigned localPort = 0, remotePort = 0;
    unsigned long queued = 0, unread = 0;
    if (sscanf(line.c_str(), " %*u: %*x:%x %*x:%x %*x %lx:%lx", &localPort, &remotePort, &queued,
               &unread) == 4 &&
        localPort == ntohs(theirs.sin_port) && remotePort == ntohs(ours.sin_port)) {
      return long(unread);
    }
  }
  return -1;
}

// Sends the pieces on one connection, each once the server has read the one
// before (so each comes in a read of its own however busy the machine), and
// reads until the server closes it (or, for an upgrade, the reply's blank
// line).
std::string answerOf(uint16_t port, const std::vector<std::string>& pieces) {
  WsClient peer;
  EXPECT_TRUE(peer.connect(port));
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) {
      EXPECT_TRUE(eventually([&] { return unreadByServer(peer.fd()) == 0; }, kAnswerMs))
          << "the server never read piece " << i - 1;
    }
    EXPECT_TRUE(peer.sendRaw(pieces[i]));
  }
  // A 101 reply is followed by pings, not by the end of the connection.
  std::string reply;
  peer.readReply(&reply, kAnswerMs);
  if (reply.rfind("HTTP/1.1 101", 0) == 0) return reply;
  const std::vector<uint8_t> bytes = peer.readExact(1 << 20, kAnswerMs);
  return reply + std::string(bytes.begin(), bytes.end());
}

std::string login(const std::string& key, const std::string& more = "",
                  const std::string& headers = "") {
  const std::string body = "key=" + key + more;
  return "POST /login HTTP/1.1\r\n" + (headers.empty() ? "Host: 127.0.0.1\r\n" : headers) +
         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// An upgrade as a browser sends it, 1,300 bytes: other web applications on
// the device's address have left 600 bytes of cookies (cookies ignore the
// port), and the session cookie comes after them.
std::string browserUpgrade(const std::string& cookie) {
  std::string others;
  for (int i = 0; others.size() < 600; ++i) {
    others += "app" + std::to_string(i) + "_prefs=" + std::string(40, char('a' + i % 26)) + "; ";
  }
  std::string request = std::string(kUpgrade) +
                        "Origin: http://127.0.0.1\r\nPragma: no-cache\r\n"
                        "Cache-Control: no-cache\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64) "
                        "AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36\r\n"
                        "Accept-Encoding: gzip, deflate, br\r\nAccept-Language: en-GB,en;q=0.9\r\n"
                        "Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits\r\n"
                        "Sec-WebSocket-Protocol: panel-changes-v1\r\nCookie: " +
                        others + cookie + "\r\n";
  request += "X-Padding: " + std::string(1300 - 2 - 13 - request.size(), 'p') + "\r\n\r\n";
  EXPECT_EQ(request.size(), 1300u);
  return request;
}

// The session cookie a login answer sets, as "panel_session=<token>".
std::string cookieOf(const std::string& answer) {
  const size_t at = answer.find("Set-Cookie: ");
  if (at == std::string::npos) return "";
  return answer.substr(at + 12, answer.find(';', at) - at - 12);
}

// A server on a 640 x 480 picture with the key file set.
bool startWithKey(ServerProcess* server, const std::string& name, uint16_t port,
                  const std::string& keyFile) {
  setenv("PANEL_KEY_FILE", keyFile.c_str(), 1);
  const bool started = server->startOnPort(name, port, 640, 480);
  unsetenv("PANEL_KEY_FILE");
  return started;
}

TextSpan session(TextSpan header) {
  return cookieValue(header, "panel_session");
}

TextSpan keyField(TextSpan body) {
  return formField(body, "key");
}

// A control cookie made from the key file alone, signed as someone who read
// the file would sign it: under the digest of its lines the cookies were once
// signed with (`old`), or under the file's identity as the server computes it.
std::string cookieFromKeyFile(const std::string& path, bool old) {
  KeyFile keys;
  EXPECT_EQ(loadKeyFile(path.c_str(), &keys), kKeyFileRead);
  std::string lines = "panel session cookie\n";
  for (const KeyRecord* record : {&keys.control, &keys.view}) {
    char line[kKeyLineLongest + 2] = {};
    if (record->kind != kAccessNone && formatKeyRecord(*record, line, int(sizeof line)) > 0) {
      lines += line;
    }
  }
  uint8_t secret[kHashBytes];
  SHA256(reinterpret_cast<const uint8_t*>(lines.data()), lines.size(), secret);
  uint8_t bytes[kTokenBytes] = {kAccessControl};
  const uint32_t issued = uint32_t(time(nullptr));
  for (int i = 0; i < 4; ++i) bytes[1 + i] = uint8_t(issued >> (24 - 8 * i));
  unsigned int length = 0;
  HMAC(EVP_sha256(), old ? secret : keys.identity, kHashBytes, bytes, kTokenBytes - kHashBytes,
       bytes + kTokenBytes - kHashBytes, &length);
  char token[kTokenLength + 1] = {};
  encodeKeyText(bytes, kTokenBytes, token, int(sizeof token));
  return std::string(kSessionCookie) + "=" + token;
}

}  // namespace

TEST(AccessKey, PanelKeyWritesHashesThatOpenOnlyTheirOwnKey) {
  const std::string file = tempPath("round-trip-keys");
  const std::string control = makeAccessKey(file);
  const std::string view = makeAccessKey(file, true);
  ASSERT_EQ(control.size(), 22u) << "128 bits in URL-safe Base64";
  ASSERT_EQ(view.size(), 22u);
  struct stat info = {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string written = fileText(file);
  EXPECT_EQ(written.find(control), std::string::npos) << "no key in clear";
  EXPECT_EQ(written.find(view), std::string::npos);

  KeyFile keys;
  ASSERT_EQ(loadKeyFile(file.c_str(), &keys), kKeyFileRead);
  EXPECT_EQ(keys.control.iterations, kRandomKeyIterations) << "a random key is hashed once";
  EXPECT_EQ(checkKey(keys, control.data(), int(control.size())), kAccessControl);
  EXPECT_EQ(checkKey(keys, view.data(), int(view.size())), kAccessView);
  EXPECT_EQ(checkKey(keys, "wrong", 5), kAccessNone);
  EXPECT_EQ(checkKey(keys, control.data(), int(control.size()) - 1), kAccessNone);

  // A chosen passphrase replaces the control key and keeps the view key.
  std::string printed;
  EXPECT_EQ(
      runCommand("printf 'correct horse\\n' | " + std::string(PANEL_KEY_BIN) + " --stdin " + file,
                 &printed),
      0);
  EXPECT_EQ(printed.find("correct horse"), std::string::npos) << printed;
  // The machine's name, then each IPv4 address of an interface that is up,
  // loopback aside: a phone on the network reaches those.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::string tail = ":8080/ and enter the passphrase.\n";
  EXPECT_NE(printed.find("Open: http://" + std::string(host) + tail), std::string::npos) << printed;
  EXPECT_EQ(printed.find("http://127."), std::string::npos) << printed;
  // Each further line names an IPv4 address.
  for (size_t at = printed.find("Open: http://", printed.find(tail)); at != std::string::npos;
       at = printed.find("Open: http://", at + 1)) {
    in_addr address{};
    const std::string host = printed.substr(at + 13, printed.find(':', at + 13) - at - 13);
    EXPECT_EQ(inet_pton(AF_INET, host.c_str(), &address), 1) << host;
  }
  ASSERT_EQ(loadKeyFile(file.c_str(), &keys), kKeyFileRead);
  EXPECT_EQ(keys.control.iterations, kKeyIterations) << "a passphrase gets the slow hash";
  EXPECT_EQ(checkKey(keys, "correct horse", 13), kAccessControl);
  EXPECT_EQ(checkKey(keys, control.data(), int(control.size())), kAccessNone);
  EXPECT_EQ(checkKey(keys, view.data(), int(view.size())), kAccessView);
  const std::string before = fileText(file);
  EXPECT_NE(
      runCommand("printf 'short\\n' | " + std::string(PANEL_KEY_BIN) + " --stdin " + file, nullptr),
      0);
  EXPECT_EQ(fileText(file), before) << "a refused passphrase leaves the file";
  unlink(file.c_str());
}

// panel-key is the server's program started under that name: its own
// command line, help on --help, and a missing folder named as such.
TEST(AccessKey, PanelKeyAnswersItsOwnCommandLine) {
  const std::string key = PANEL_KEY_BIN;
  const std::string folder = tempPath("no-such-folder");
  struct Case {
    std::string arguments;
    int status;
    std::string printed;
  };
  const Case cases[] = {
      {"--help", 0, "usage: panel-key [--view] [--stdin] [--port N] FILE"},
      {"", 2, "usage: panel-key"},
      {"--port 0 " + folder + "/key", 2, "usage: panel-key"},
      {folder + "/key", 1, "the folder " + folder + " does not exist"},
  };
  for (const Case& c : cases) {
    std::string printed;
    EXPECT_EQ(runCommand(key + " " + c.arguments + " 2>&1", &printed), c.status) << c.arguments;
    EXPECT_NE(printed.find(c.printed), std::string::npos) << c.arguments << ": " << printed;
  }
  std::string printed;
  EXPECT_EQ(runCommand(std::string(PANEL_SERVER_BIN) + " --version", &printed), 0);
  EXPECT_EQ(printed.find("panel-key"), std::string::npos) << "the server's own name serves";
}

TEST(AccessKey, OnlyWellFormedKeyFilesAreRead) {
  KeyRecord record;
  record.kind = kAccessControl;
  record.iterations = kKeyIterations;
  char line[kKeyLineLongest + 2] = {};
  ASSERT_GT(formatKeyRecord(record, line, int(sizeof line)), 0);
  const std::string good = line;
  const std::string view = "view" + good.substr(7);
  const struct {
    const char* what;
    std::string text;
    int result;
  } cases[] = {
      {"one key", good, kKeyFileRead},
      {"comments, blank lines, CR LF", "# keys\n\n" + good.substr(0, good.size() - 1) + "\r\n",
       kKeyFileRead},
      {"a control and a view key", good + view, kKeyFileRead},
      {"empty", "", kKeyFileMalformed},
      {"only comments", "# nothing\n", kKeyFileMalformed},
      {"two control keys", good + good, kKeyFileMalformed},
      {"a key in clear", "control secret\n", kKeyFileMalformed},
      {"another kind", "admin" + good.substr(7), kKeyFileMalformed},
      {"another hash", "control md5" + good.substr(21), kKeyFileMalformed},
      {"too few iterations", "control pbkdf2-sha256 999" + good.substr(27), kKeyFileMalformed},
      {"a random key's one hash", "control pbkdf2-sha256 1" + good.substr(27), kKeyFileRead},
      {"two iterations", "control pbkdf2-sha256 2" + good.substr(27), kKeyFileMalformed},
      {"a cut hash", good.substr(0, good.size() - 2) + "\n", kKeyFileMalformed},
      {"a word too many", good.substr(0, good.size() - 1) + " x\n", kKeyFileMalformed},
      {"too long", good + std::string(kKeyFileLongest, '#'), kKeyFileMalformed},
  };
  for (const auto& c : cases) {
    KeyFile keys;
    EXPECT_EQ(parseKeyFile(c.text.data(), int(c.text.size()), &keys), c.result) << c.what;
  }
  KeyFile keys;
  EXPECT_EQ(loadKeyFile(tempPath("no-such-key-file").c_str(), &keys), kKeyFileMissing);
}

TEST(AccessKey, AMissingOrMalformedKeyFileStopsTheStart) {
  const std::string bad = tempPath("bad-keys");
  std::ofstream(bad) << "control secret\n";
  for (const std::string& file : {tempPath("missing-keys"), bad}) {
    ServerProcess server;
    ASSERT_TRUE(
        startWithKey(&server, "start-" + file.substr(file.rfind('/') + 1), freePort(), file));
    EXPECT_EQ(server.waitExit(5000), 252) << file;
    EXPECT_NE(server.errors().find("(PANEL_KEY_FILE)"), std::string::npos) << server.errors();
    EXPECT_EQ(server.output(), "") << "nothing starts";
  }
  unlink(bad.c_str());
}

TEST(AccessKey, SessionTokensHoldForTheirKeysSecretAndTimeOnly) {
  const std::string secretFile = tempPath("session-secret");
  ASSERT_EQ(keepSessionSecret(secretFile.c_str()), kSecretMade);
  struct stat info = {};
  ASSERT_EQ(stat(secretFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, kSessionSecretBytes);
  KeyFile keys;
  keys.control.kind = kAccessControl;
  keys.view.kind = kAccessView;
  KeyFile others = keys;
  others.identity[0] = 1;
  const int64_t now = 1800000000;
  char token[kTokenLength + 1] = {};
  ASSERT_EQ(makeSessionToken(keys, kAccessView, now, token, int(sizeof token)), kTokenLength);
  EXPECT_EQ(checkSessionToken(keys, token, kTokenLength, now), kAccessView);
  EXPECT_EQ(checkSessionToken(keys, token, kTokenLength, now - 86400), kAccessView)
      << "a clock not yet set after a restart";
  EXPECT_EQ(checkSessionToken(keys, token, kTokenLength, now + kSessionSeconds), kAccessNone);
  EXPECT_EQ(checkSessionToken(others, token, kTokenLength, now), kAccessNone);
  KeyFile noView = keys;
  noView.view.kind = kAccessNone;
  EXPECT_EQ(checkSessionToken(noView, token, kTokenLength, now), kAccessNone);
  for (int at : {0, 10, kTokenLength - 1}) {
    std::string changed(token);
    changed[size_t(at)] = changed[size_t(at)] == 'A' ? 'B' : 'A';
    EXPECT_EQ(checkSessionToken(keys, changed.data(), kTokenLength, now), kAccessNone) << at;
  }
  EXPECT_EQ(checkSessionToken(keys, token, kTokenLength - 1, now), kAccessNone);
  EXPECT_EQ(checkSessionToken(keys, "", 0, now), kAccessNone);
  // The same secret after a restart; another one (a file of another length
  // is replaced, a folder that cannot be written keeps it in memory) ends
  // every session.
  EXPECT_EQ(keepSessionSecret(secretFile.c_str()), kSecretRead);
  EXPECT_EQ(checkSessionToken(keys, token, kTokenLength, now), kAccessView);
  std::ofstream(secretFile) << "short\n";
  EXPECT_EQ(keepSessionSecret(secretFile.c_str()), kSecretMade);
  EXPECT_EQ(checkSessionToken(keys, token, kTokenLength, now), kAccessNone);
  EXPECT_EQ(keepSessionSecret((secretFile + "-none/secret").c_str()), kSecretInMemory);
  ASSERT_EQ(makeSessionToken(keys, kAccessControl, now, token, int(sizeof token)), kTokenLength);
  EXPECT_EQ(checkSessionToken(keys, token, kTokenLength, now), kAccessControl);
  unlink(secretFile.c_str());
}

TEST(AccessKey, ASignedOutSessionStaysEndedInABoundedRecord) {
  const std::string folder = tempPath("signed-out");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string secretFile = folder + "/" + kSessionSecretFile;
  ASSERT_EQ(keepSessionSecret(secretFile.c_str()), kSecretMade);
  KeyFile keys;
  keys.control.kind = kAccessControl;
  const int64_t now = int64_t(time(nullptr)) - 1000;  // the record's floor reads the clock
  const auto token = [&](int64_t issued) {
    char text[kTokenLength + 1] = {};
    EXPECT_EQ(makeSessionToken(keys, kAccessControl, issued, text, int(sizeof text)), kTokenLength);
    return std::string(text);
  };
  const auto opens = [&](const std::string& text) {
    return checkSessionToken(keys, text.data(), int(text.size()), now + 500) == kAccessControl;
  };
  const std::string early = token(now);
  const std::string kept = token(now + 400);
  std::vector<std::string> ended;
  for (int i = 1; i <= kRevokedMost + 1; ++i) {
    ended.push_back(token(now + i));
    endSession(keys, ended.back().data(), kTokenLength, now + 500);
  }
  // The record was full once: the earliest ended session made way, and
  // every session from before it ends with it.
  for (int restart = 0; restart < 2; ++restart) {
    for (const std::string& text : ended) EXPECT_FALSE(opens(text)) << restart;
    EXPECT_FALSE(opens(early)) << restart;
    EXPECT_TRUE(opens(kept)) << restart;
    EXPECT_EQ(keepSessionSecret(secretFile.c_str()), kSecretRead);
  }
  struct stat info = {};
  ASSERT_EQ(stat((folder + "/" + kRevokedFile).c_str(), &info), 0);
  EXPECT_EQ(info.st_size, kRevokedFileBytes);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // A record that cannot be read ends every session from before the start.
  std::ofstream(folder + "/" + kRevokedFile) << "x";
  EXPECT_EQ(keepSessionSecret(secretFile.c_str()), kSecretRead);
  EXPECT_FALSE(opens(kept));
  EXPECT_TRUE(opens(token(now + 1010)));

  // A secret readable by others is made private and kept; one that cannot
  // be read is left as it is, and sessions live in memory.
  ASSERT_EQ(chmod(secretFile.c_str(), 0644), 0);
  const std::string secret = fileText(secretFile);
  EXPECT_EQ(keepSessionSecret(secretFile.c_str()), kSecretRead);
  ASSERT_EQ(stat(secretFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string unreadable = folder + "/unreadable";
  ASSERT_EQ(mkdir(unreadable.c_str(), 0700), 0);
  EXPECT_EQ(keepSessionSecret(unreadable.c_str()), kSecretInMemory);
  EXPECT_EQ(stat(unreadable.c_str(), &info), 0) << "never deleted";
  EXPECT_TRUE(opens(token(now)));
  EXPECT_EQ(fileText(secretFile), secret);
  rmdir(unreadable.c_str());
  unlink(secretFile.c_str());
  unlink((folder + "/" + kRevokedFile).c_str());
  rmdir(folder.c_str());
}

TEST(AccessKey, CookiesBearerKeysAndFormFieldsAreReadExactly) {
  // Each reader, given the header or body text, and what it takes from it.
  const struct {
    const char* what;
    TextSpan (*read)(TextSpan);
    std::string given;
    const char* expected;
  } cases[] = {
      {"the cookie among others", session, "a=1; panel_session=xyz; b=2", "xyz"},
      {"a look-alike name", session, "my_panel_session=x", ""},
      {"no value", session, "panel_session=", ""},
      {"the first of two", session, "panel_session=a;panel_session=b", "a"},
      {"Bearer", bearerToken, "Bearer abc", "abc"},
      {"bearer in other case", bearerToken, "bEARER  abc", "abc"},
      {"another scheme", bearerToken, "Basic abc", ""},
      {"no token", bearerToken, "Bearer ", ""},
      {"the key field", keyField, "secure=1&key=a%2Bb", "a%2Bb"},
      {"no such field", keyField, "keys=1", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(text(c.read(span(c.given))), c.expected) << c.what;
  char out[8];
  EXPECT_EQ(formDecode(span("a%2Bb+c"), out, int(sizeof out)), 5);
  EXPECT_STREQ(out, "a+b c");
  EXPECT_EQ(formDecode(span("%zz"), out, int(sizeof out)), -1);
  EXPECT_EQ(formDecode(span("%4"), out, int(sizeof out)), -1);
  EXPECT_EQ(formDecode(span("12345678"), out, int(sizeof out)), -1) << "no room for its end";
  EXPECT_EQ(contentLengthOf(span("42"), 512), 42);
  EXPECT_EQ(contentLengthOf(span("513"), 512), -1);
  EXPECT_EQ(contentLengthOf(span("99999999999999999999"), 512), -1);
  EXPECT_EQ(contentLengthOf(span("-1"), 512), -1);
}

TEST(AccessKey, WrongKeysAreLimitedPerSourceAndInAll) {
  using Address = std::array<uint8_t, kAddressBytes>;
  const auto v4 = [](int n) {  // 10.0.x.y, mapped as the server holds it
    return Address{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, uint8_t(n >> 8), uint8_t(n)};
  };
  const auto v6 = [](int net, int host) {  // 2001:db8:0:<net>::<host>
    return Address{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, uint8_t(net),
                   0,    0,    0,    0,    0, 0, 0, uint8_t(host)};
  };
  const int64_t t = 1000000;  // monotonic ms
  const int64_t minute = kGuessRefillSeconds * 1000;
  // Each step takes `times` tries at `atMs` (from as many addresses, the last
  // byte counting up, when `spread`), each expecting `wait`; `right` gives
  // the try back as a right key does.
  struct Step {
    Address from;
    int times;
    int64_t atMs;
    int64_t wait;
    bool spread = false;
    bool right = false;
  };
  const struct {
    const char* what;
    std::vector<Step> steps;
  } cases[] = {
      {"five at once, then one a minute with no edge to burst across",
       {{v4(1), kGuessBurst, t, 0},
        {v4(1), 1, t, kGuessRefillSeconds},
        {v4(1), 1, t + minute - 1, 1},
        {v4(1), 1, t + minute, 0},
        {v4(1), 1, t + minute, kGuessRefillSeconds}}},
      {"each IPv4 address is a source of its own",
       {{v4(0x100), kGuessBurst, t, 0},
        {v4(0x101), 1, t, 0},
        {v4(0x100), 1, t, kGuessRefillSeconds}}},
      {"an IPv6 /64 is one source",
       {{v6(1, 0), kGuessBurst, t, 0, true},
        {v6(1, 0x99), 1, t, kGuessRefillSeconds},
        {v6(2, 1), 1, t, 0}}},
      {"a right key gives its try back",
       {{v4(2), 3 * kGuessBurst, t, 0, false, true}, {v4(2), kGuessBurst, t, 0}}},
      {"sources on record share one bucket; a clean one skips it",
       {{v4(0x200), kSharedBurst + 1, t, 0, true},
        {v4(0x200), kSharedBurst + 1, t, 0, true},
        {v4(0x200), kSharedBurst, t, 0, true},
        {v4(0x20a), 1, t, 2},
        {v4(0x20a), 1, t + kSharedRefillMs, 0},
        {v4(0x209), 1, t + kSharedRefillMs, 2},
        {v4(0x300), 1, t + kSharedRefillMs, 0, false, true},
        {v4(0x301), 1, t + kSharedRefillMs, 0},
        {v4(0x301), 1, t + kSharedRefillMs, 0, false, true}}},
      {"a record is forgotten after a quarter hour",
       {{v4(3), kGuessBurst, t, 0},
        {v4(0x400), kSharedBurst + 1, t + kRecordSeconds * 1000, 0, true},
        {v4(0x400), kSharedBurst + 1, t + kRecordSeconds * 1000, 0, true},
        {v4(0x400), kSharedBurst, t + kRecordSeconds * 1000, 0, true},
        {v4(0x40a), 1, t + kRecordSeconds * 1000, 2},
        {v4(3), 1, t + kRecordSeconds * 1000, 0}}},
      {"a full table keeps every record; newcomers share the bucket",
       {{v4(0x500), kGuessTable, t, 0, true},
        {v4(0x600), kSharedBurst, t, 0, true},
        {v4(0x700), 1, t, 2},
        {v4(0x500), 1, t, 0},
        {v4(0x500), 1, t, 2}}},
  };
  for (const auto& c : cases) {
    clearGuesses();
    for (size_t s = 0; s < c.steps.size(); ++s) {
      const Step& step = c.steps[s];
      for (int i = 0; i < step.times; ++i) {
        Address from = step.from;
        if (step.spread) from[15] = uint8_t(from[15] + i);
        ASSERT_EQ(takeGuess(from.data(), step.atMs), step.wait)
            << c.what << ", step " << s << "." << i;
        if (step.right) giveGuessBack(from.data(), step.atMs);
      }
    }
  }
  clearGuesses();
}

TEST(AccessKey, ARandomKeyIsAcceptedAtOnceWhateverOthersGuessed) {
  KeyFile keys;
  keys.control = {kAccessControl, kRandomKeyIterations};
  keys.view = {kAccessView, kIterationsLeast};
  ASSERT_EQ(hashKey("random key", 10, keys.control.salt, 1, keys.control.hash), 0);
  ASSERT_EQ(hashKey("passphrase", 10, keys.view.salt, kIterationsLeast, keys.view.hash), 0);
  const auto source = [](int n) {  // 10.x.y.1, mapped as the server holds it
    return std::array<uint8_t, kAddressBytes>{
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, uint8_t(n >> 8), uint8_t(n), 1};
  };
  const int64_t t = 1000000;
  clearGuesses();
  // Two wrong keys from each of more sources than the table holds: it is
  // full of records, and the shared bucket empty.
  for (int n = 0; n < kGuessTable + 44; ++n) {
    for (int i = 0; i < kCleanStrikes; ++i) {
      checkUnderLimit(keys, source(n).data(), "wrong", 5, t + n);
    }
  }
  const int64_t later = t + kGuessTable + 44;
  const auto clean = source(0x7fff);
  EXPECT_EQ(checkUnderLimit(keys, clean.data(), "random key", 10, later), kAccessControl);
  EXPECT_LT(checkUnderLimit(keys, clean.data(), "passphrase", 10, later), 0)
      << "a passphrase waits for the shared bucket";
  EXPECT_LT(checkUnderLimit(keys, source(1).data(), "wrong", 5, later), 0) << "guesses still wait";
  EXPECT_EQ(checkUnderLimit(keys, source(1).data(), "random key", 10, later), kAccessControl)
      << "even from a guessing source";
  clearGuesses();
}

TEST(AccessKey, EachRequestGetsItsAnswerWhileAKeyIsSet) {
  const std::string file = tempPath("table-keys");
  const std::string control = makeAccessKey(file);
  const std::string view = makeAccessKey(file, true);
  const uint16_t port = freePort();
  ServerProcess server;
  ASSERT_TRUE(startWithKey(&server, "access_table", port, file));
  const std::string controlCookie = cookieOf(answerOf(port, {login(control)}));
  EXPECT_NE(server.output().find("Access key on: every browser must sign in with a key of " + file +
                                 " (PANEL_KEY_FILE).\n"),
            std::string::npos)
      << server.output();
  const std::string viewCookie = cookieOf(answerOf(port, {login(view)}));
  ASSERT_FALSE(controlCookie.empty());
  ASSERT_FALSE(viewCookie.empty());
  const std::string own = "Host: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\n";
  const std::string body = "key=" + control;
  const struct {
    const char* what;
    std::vector<std::string> pieces;
    const char* status;  // the answer's first line opens with it
    const char* part;    // and holds this
  } cases[] = {
      {"an upgrade without credentials",
       {std::string(kUpgrade) + "\r\n"},
       "HTTP/1.1 401",
       "WWW-Authenticate: Bearer\r\n"},
      {"an upgrade with the control key",
       {std::string(kUpgrade) + "Authorization: Bearer " + control + "\r\n\r\n"},
       "HTTP/1.1 101",
       "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"},
      {"an upgrade with a wrong key",
       {std::string(kUpgrade) + "Authorization: Bearer " + view + "x\r\n\r\n"},
       "HTTP/1.1 401",
       "wrong access key"},
      {"an upgrade with the control cookie",
       {std::string(kUpgrade) + "Cookie: a=b; " + controlCookie + "\r\n\r\n"},
       "HTTP/1.1 101",
       ""},
      {"an upgrade with the view cookie",
       {std::string(kUpgrade) + "Cookie: " + viewCookie + "\r\n\r\n"},
       "HTTP/1.1 101",
       ""},
      {"a browser's upgrade of 1,300 bytes, the cookie after 600 bytes of others",
       {browserUpgrade(controlCookie)},
       "HTTP/1.1 101",
       ""},
      {"an upgrade with a forged cookie",
       {std::string(kUpgrade) + "Cookie: panel_session=" + std::string(kTokenLength, 'A') +
        "\r\n\r\n"},
       "HTTP/1.1 401",
       ""},
      {"a cookie signed as the key file's digest",
       {std::string(kUpgrade) + "Cookie: " + cookieFromKeyFile(file, true) + "\r\n\r\n"},
       "HTTP/1.1 401",
       ""},
      {"a cookie signed with the key file's identity and no secret",
       {std::string(kUpgrade) + "Cookie: " + cookieFromKeyFile(file, false) + "\r\n\r\n"},
       "HTTP/1.1 401",
       ""},
      {"another site's page with a cookie",
       {std::string(kUpgrade) + "Origin: http://example.com\r\nCookie: " + controlCookie +
        "\r\n\r\n"},
       "HTTP/1.1 403",
       ""},
      {"not a request", {"hello"}, "HTTP/1.1 401", ""},
      {"the page asks for a key",
       {"GET / HTTP/1.1\r\n\r\n"},
       "HTTP/1.1 200",
       "<head>\n<meta name=\"panel-access\" content=\"login\">\n<meta charset"},
      {"the page of a view session",
       {"GET / HTTP/1.1\r\nCookie: " + viewCookie + "\r\n\r\n"},
       "HTTP/1.1 200",
       "content=\"view\""},
      {"the session",
       {"GET /session HTTP/1.1\r\nCookie: " + controlCookie + "\r\n\r\n"},
       "HTTP/1.1 200",
       "\r\n\r\n{\"access\":\"control\"}\n"},
      {"no session", {"HEAD /session HTTP/1.1\r\n\r\n"}, "HTTP/1.1 200", "Content-Length: 18\r\n"},
      {"a login from another site",
       {login(control, "", "Origin: http://example.com\r\n")},
       "HTTP/1.1 403",
       ""},
      {"a login from a sandboxed frame on this machine",
       {login(control, "", "Host: 127.0.0.1\r\nOrigin: null\r\n")},
       "HTTP/1.1 403",
       "Origin null on a login or logout"},
      {"a logout from a sandboxed frame",
       {"POST /logout HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: null\r\nContent-Length: 0\r\n\r\n"},
       "HTTP/1.1 403",
       "Origin null on a login or logout"},
      {"a browser's login without Origin",
       {login(control, "", "Host: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n")},
       "HTTP/1.1 403",
       "without Origin"},
      {"a login without a length", {"POST /login HTTP/1.1\r\n\r\n" + body}, "HTTP/1.1 411", ""},
      {"a login too large",
       {"POST /login HTTP/1.1\r\nContent-Length: 5000\r\n\r\n"},
       "HTTP/1.1 413",
       ""},
      {"a login whose body never comes",
       {"POST /login HTTP/1.1\r\nContent-Length: 40\r\n\r\n"},
       "HTTP/1.1 408",
       ""},
      {"a login without a key", {login("", "&secure=1")}, "HTTP/1.1 400", ""},
      {"a wrong key", {login(control + "x", "", own)}, "HTTP/1.1 401", "{\"access\":\"none\"}"},
      {"the body in later reads",
       {"POST /login HTTP/1.1\r\n" + own + "Content-Length: " + std::to_string(body.size()) +
            "\r\n\r\n",
        body.substr(0, 6), body.substr(6)},
       "HTTP/1.1 200",
       "; Max-Age=2592000; Path=/; HttpOnly; SameSite=Strict\r\n"},
      {"a page that came over HTTPS",
       {login(view, "&secure=1")},
       "HTTP/1.1 200",
       "HttpOnly; SameSite=Strict; Secure\r\nConnection: close\r\n\r\n{\"access\":\"view\"}"},
      {"a logout",
       {"POST /logout HTTP/1.1\r\n" + own + "Content-Length: 0\r\n\r\n"},
       "HTTP/1.1 200",
       "Set-Cookie: panel_session=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict"},
  };
  for (const auto& c : cases) {
    const std::string answer = answerOf(port, c.pieces);
    EXPECT_EQ(answer.rfind(c.status, 0), 0u) << c.what << "\n" << answer;
    EXPECT_NE(answer.find(c.part), std::string::npos) << c.what << "\n" << answer;
  }
  const std::string printed = server.output();
  EXPECT_GE(countOf(printed, "Refused a connection from 127.0.0.1: no access key.\n"), 3)
      << printed;
  EXPECT_EQ(countOf(printed, "Wrong access key from 127.0.0.1.\n"), 1) << printed;
  EXPECT_EQ(printed.find(control), std::string::npos) << "no key is ever printed";
  EXPECT_EQ(printed.find(view), std::string::npos);

  // A view session sees the picture and its presses are dropped, beside a
  // control session whose press acts.
  Viewer watcher, owner;
  bool ownerIn = false;
  std::thread opening(
      [&] { ownerIn = owner.open(port, nullptr, "Authorization: Bearer " + control + "\r\n"); });
  ASSERT_TRUE(watcher.open(port, nullptr, "Authorization: Bearer " + view + "\r\n"));
  opening.join();
  ASSERT_TRUE(ownerIn);
  ASSERT_TRUE(watcher.waitForPictures(0, kClickMs));
  ASSERT_TRUE(owner.waitForPictures(0, kClickMs));
  EXPECT_FALSE(watcher.click(kCircleX, kButtonY, 2500)) << "a view session's press changed it";
  EXPECT_TRUE(owner.click(kCircleX, kButtonY, kClickMs));
  unlink(file.c_str());
}

TEST(AccessKey, TooManyWrongKeysGet429WithRetryAfter) {
  const std::string file = tempPath("limit-keys");
  const std::string control = "correct-horse-battery";  // a passphrase: the slow hash
  ASSERT_EQ(
      runCommand("printf '" + control + "\\n' | " + PANEL_KEY_BIN + " --stdin " + file, nullptr),
      0);
  const uint16_t port = freePort();
  ServerProcess server;
  ASSERT_TRUE(startWithKey(&server, "access_limit", port, file));
  for (int i = 0; i < kGuessBurst; ++i) {
    const std::string answer = answerOf(port, {login("guess" + std::to_string(i))});
    EXPECT_EQ(answer.rfind("HTTP/1.1 401", 0), 0u) << i << "\n" << answer;
  }
  // Even the right passphrase waits now, by login and by Bearer alike (a
  // random key would not); a signed-in browser's cookie is not held up.
  const std::string locked = answerOf(port, {login(control)});
  EXPECT_EQ(locked.rfind("HTTP/1.1 429 Too Many Requests\r\n", 0), 0u) << locked;
  const size_t wait = locked.find("Retry-After: ");
  ASSERT_NE(wait, std::string::npos) << locked;
  const int seconds = atoi(locked.c_str() + wait + 13);
  EXPECT_GT(seconds, kGuessRefillSeconds - 10);
  EXPECT_LE(seconds, kGuessRefillSeconds);
  const std::string bearer =
      answerOf(port, {std::string(kUpgrade) + "Authorization: Bearer " + control + "\r\n\r\n"});
  EXPECT_EQ(bearer.rfind("HTTP/1.1 429", 0), 0u) << bearer;
  EXPECT_EQ(countOf(server.output(), "too many wrong keys"), 2) << server.output();
  unlink(file.c_str());
}

TEST(AccessKey, ASessionOutlivesARestartUnlessSignedOutAndEndsWhenTheKeyChanges) {
  const std::string file = tempPath("restart-keys");
  const std::string control = makeAccessKey(file);
  const uint16_t port = freePort();
  std::string cookie;
  std::string signedOut;
  const auto upgradeWith = [&](const std::string& name) {
    return answerOf(port, {std::string(kUpgrade) + "Cookie: " + name + "\r\n\r\n"});
  };
  {
    ServerProcess first;
    ASSERT_TRUE(startWithKey(&first, "access_restart", port, file));
    cookie = cookieOf(answerOf(port, {login(control)}));
    ASSERT_FALSE(cookie.empty());
    EXPECT_EQ(upgradeWith(cookie).rfind("HTTP/1.1 101", 0), 0u);
    signedOut = cookieOf(answerOf(port, {login(control)}));
    const std::string out =
        answerOf(port, {"POST /logout HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + signedOut +
                        "\r\nContent-Length: 0\r\n\r\n"});
    EXPECT_EQ(out.rfind("HTTP/1.1 200", 0), 0u) << out;
    EXPECT_EQ(upgradeWith(signedOut).rfind("HTTP/1.1 401", 0), 0u) << "a copy of the cookie";
    ASSERT_TRUE(first.signal(SIGTERM));
    EXPECT_EQ(first.waitExit(5000), 0);
  }
  ServerProcess second;
  ASSERT_TRUE(startWithKey(&second, "access_restart", port, file));
  EXPECT_EQ(upgradeWith(cookie).rfind("HTTP/1.1 101", 0), 0u) << "the same session";
  EXPECT_EQ(upgradeWith(signedOut).rfind("HTTP/1.1 401", 0), 0u) << "still signed out";
  // A new key, while the server runs: the old session is over at once.
  ASSERT_FALSE(makeAccessKey(file).empty());
  EXPECT_EQ(upgradeWith(cookie).rfind("HTTP/1.1 401", 0), 0u);
  // A deleted file refuses every session, and is reported once, not per request.
  const std::string fresh = cookieOf(answerOf(port, {login(makeAccessKey(file))}));
  ASSERT_FALSE(fresh.empty());
  unlink(file.c_str());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(upgradeWith(fresh).rfind("HTTP/1.1 401", 0), 0u) << i;
  EXPECT_EQ(countOf(second.output(), "The key file cannot be read"), 1) << second.output();
}
