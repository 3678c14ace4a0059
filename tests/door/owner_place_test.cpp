// The owner's place: with an access key, a control session that finds all
// five slots taken takes the place of the view session heard from least
// recently, whose viewer is sent a close frame with 1013 and the reason; a
// view session that finds them taken is closed unanswered, as is a control
// session when no view session holds a slot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "server/records.h"
#include "server/wire.h"
#include "support/test_support.h"
#include "tools/peer/server_process.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kCloseMs = 5000;
const std::string kGaveWay = std::string("\x03\xF5", 2) + "the owner took this place";

// Reads until a close frame (pictures may come first); its payload, or
// "none" when the connection ended or went quiet without one.
std::string closeReason(WsClient& viewer) {
  WsFrame frame;
  while (viewer.readFrame(&frame, kCloseMs)) {
    if (frame.opcode == kOpClose) return std::string(frame.payload.begin(), frame.payload.end());
  }
  return "none";
}

TEST(OwnerPlace, AControlSessionTakesTheLongestIdleViewersPlace) {
  const std::string file = tempPath("owner-place-keys");
  const std::string control = makeAccessKey(file);
  const std::string view = makeAccessKey(file, true);
  ASSERT_FALSE(control.empty());
  ASSERT_FALSE(view.empty());
  ServerProcess server;
  server.setEnvironment("PANEL_KEY_FILE", file);
  const uint16_t port = freePort();
  ASSERT_TRUE(server.startOnPort("owner_place", port));
  const std::string asViewer = "Authorization: Bearer " + view + "\r\n";
  const std::string asOwner = "Authorization: Bearer " + control + "\r\n";

  // Five viewers, one after another: the first was heard from least
  // recently (its last pong came before the others opened).
  std::vector<WsClient> viewers(kMaxClients);
  for (WsClient& viewer : viewers) {
    viewer.setHeaders(asViewer);
    ASSERT_TRUE(viewer.openStreaming(port));
  }
  WsClient sixthViewer;
  sixthViewer.setHeaders(asViewer);
  ASSERT_TRUE(sixthViewer.connect(port));
  ASSERT_TRUE(sixthViewer.sendHandshake());
  EXPECT_TRUE(sixthViewer.closedByPeer(kCloseMs)) << "a viewer takes no one's place";

  // Owners in turn take the viewers' places, the least recently heard first.
  std::vector<WsClient> owners(kMaxClients);
  for (size_t i = 0; i < owners.size(); ++i) {
    owners[i].setHeaders(asOwner);
    ASSERT_TRUE(owners[i].openStreaming(port)) << "owner " << i;
    EXPECT_EQ(closeReason(viewers[i]), kGaveWay) << "viewer " << i;
    EXPECT_TRUE(viewers[i].closedByPeer(kCloseMs)) << "viewer " << i;
  }
  WsClient sixthOwner;
  sixthOwner.setHeaders(asOwner);
  ASSERT_TRUE(sixthOwner.connect(port));
  ASSERT_TRUE(sixthOwner.sendHandshake());
  EXPECT_TRUE(sixthOwner.closedByPeer(kCloseMs)) << "owners take no owner's place";
  EXPECT_FALSE(sanitizerReported(server.errors())) << server.errors();
  unlink(file.c_str());
}

}  // namespace
