// Process entry: the command line, the start-up order, the control loop and
// the stop sequence. Started under the name panel-key, the program is the key
// tool instead (app/key_tool.h).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/control_loop.h"
#include "app/key_tool.h"
#include "app/panel.h"
#include "app/pointer.h"
#include "app/scripted.h"
#include "app/stop_signals.h"
#include "door/access_key.h"
#include "door/front_door.h"
#include "door/origin_policy.h"
#include "door/peer_address.h"
#include "door/session_cookie.h"
#include "graphics/draw.h"
#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "server/listener.h"
#include "server/peer_timers.h"
#include "server/records.h"
#include "server/screen.h"
#include "widgets/buttons.h"

namespace {
constexpr int kServerFailed = -3;
constexpr int kSettingFailed = -4;         // a PANEL_* setting is malformed
constexpr unsigned kStopPauseSeconds = 1;  // lets every connection end its turn
constexpr int32_t kStartColour = 100;      // the panel's first shapes are grey
}  // namespace

int32_t R, G, B;

int main(int argc, char** argv) {
  if (argc > 0 && startedAsKeyTool(argv[0])) return runKeyTool(argc, argv);
  // A device's log is usually a file: every line goes out as it is printed.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  R = G = B = kStartColour;
  const int scan = scanArguments(argc, argv);
  if (scan != kScanRun) return scan;
  if (readOriginsSetting() != 0 || readListenSetting() != 0 || readTrustedProxiesSetting() != 0 ||
      readPeerTimeoutSetting() != 0) {
    return kSettingFailed;
  }
  const int keyFile = readKeyFileSetting();
  if (keyFile < 0) return kSettingFailed;
  if (keyFile > 0) {
    keepSessionSecret(kSessionSecretFile);
    printf("Access key on: every browser must sign in with a key of %s (PANEL_KEY_FILE).\n",
           getenv("PANEL_KEY_FILE"));
  }

  catchStopSignals();
  printf("res = %i\n", bmpfilework("work.bmp"));
  setfont(kFont8x8);
  payloadReceiver.store(wsworkfunc);
  scriptActions.store(&kPanelScriptActions);
  addPanelRoutes(scriptRoutes());
  if (startWSserver() != kListening) return kServerFailed;
  takeStopSignals();
  // A button springs back only once every plain viewer has been sent its
  // pressed look (or the longest wait is over): no viewer misses a press.
  pressWitness = {screenMark, plainViewersHave};
  panelApp.create();
  runControlLoop(panelApp.turn, panelApp.sliderMoved);

  stopWSserver();
  sleep(kStopPauseSeconds);
  return 0;
}
