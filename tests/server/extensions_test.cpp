// The extension offer list as browsers and odd clients write it (spaces
// already removed, as the handshake stores it), and the accepting line.
#include "server/extensions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Extensions, OffersAreTakenOrDeclinedAsTheirParametersAllow) {
  struct Case {
    const char* offers;
    int terms;
  };
  const Case cases[] = {
      {"permessage-deflate;client_max_window_bits", kOfferAccepted},  // Chromium
      {"permessage-deflate", kOfferAccepted},
      {"permessage-deflate;server_no_context_takeover;client_no_context_takeover", kOfferAccepted},
      {"permessage-deflate;client_max_window_bits=10", kOfferAccepted},
      {"permessage-deflate;client_max_window_bits=\"12\"", kOfferAccepted},
      {"permessage-deflate;server_max_window_bits=15", kOfferAcceptedWindow15},
      {"permessage-deflate;server_max_window_bits=\"15\"", kOfferAcceptedWindow15},
      // A later offer is taken when the earlier ones are declined or unknown.
      {"x-other;a=\"1,2\",permessage-deflate", kOfferAccepted},
      {"permessage-deflate;server_max_window_bits=10,permessage-deflate", kOfferAccepted},
      {"permessage-deflate;mystery,permessage-deflate;client_max_window_bits", kOfferAccepted},
      // Declined: unknown or repeated parameters, bad values, bad syntax.
      {"", kOfferNone},
      {"x-other", kOfferNone},
      {"permessage-deflate;mystery", kOfferNone},
      {"permessage-deflate;server_max_window_bits=10", kOfferNone},
      {"permessage-deflate;server_max_window_bits", kOfferNone},
      {"permessage-deflate;client_max_window_bits=7", kOfferNone},
      {"permessage-deflate;client_max_window_bits=16", kOfferNone},
      {"permessage-deflate;client_max_window_bits=015", kOfferNone},
      {"permessage-deflate;client_max_window_bits=\"15", kOfferNone},
      {"permessage-deflate;server_no_context_takeover=1", kOfferNone},
      {"permessage-deflate;server_no_context_takeover;server_no_context_takeover", kOfferNone},
      {"permessage-deflate;", kOfferNone},
      {"permessage-deflate=1", kOfferNone},
      {"permessage-deflatex", kOfferNone},
      {"x-other;q=\"permessage-deflate,\"", kOfferNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(chooseDeflateOffer(c.offers, strlen(c.offers)), c.terms) << c.offers;
  }
  // Only the bytes given are read.
  const char cut[] = "permessage-deflate;mystery";
  EXPECT_EQ(chooseDeflateOffer(cut, strlen("permessage-deflate")), kOfferAccepted);
}

TEST(Extensions, AcceptingLineGoesBeforeTheBlankLineOnlyWhenItFits) {
  const std::string plain = "HTTP/1.1 101 Switching Protocols\r\nX: y\r\n\r\n";
  char reply[256] = {};
  memcpy(reply, plain.data(), plain.size());
  EXPECT_EQ(addAcceptedExtension(reply, int(plain.size()), sizeof reply, kOfferNone),
            int(plain.size()));
  EXPECT_EQ(std::string(reply), plain);
  const int length =
      addAcceptedExtension(reply, int(plain.size()), sizeof reply, kOfferAcceptedWindow15);
  EXPECT_EQ(std::string(reply),
            "HTTP/1.1 101 Switching Protocols\r\nX: y\r\nSec-WebSocket-Extensions: "
            "permessage-deflate; server_no_context_takeover; client_no_context_takeover; "
            "server_max_window_bits=15\r\n\r\n");
  EXPECT_EQ(length, int(strlen(reply)));
  char small[64] = {};
  memcpy(small, plain.data(), plain.size());
  EXPECT_EQ(addAcceptedExtension(small, int(plain.size()), sizeof small, kOfferAccepted),
            int(plain.size()));
  EXPECT_EQ(std::string(small), plain);
}
