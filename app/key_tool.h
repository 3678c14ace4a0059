// The key tool (panel-key) inside the server's program: one program on the
// device, so libcrypto is carried once. Started under the name panel-key
// (a link to panel-server), the program makes access keys instead of serving.
#pragma once

// True when the program name's last path part is "panel-key".
bool startedAsKeyTool(const char* programName);

// panel-key [--view] [--stdin] [--port N] FILE, or --help: the key tool's
// whole run. Returns its exit status: 0 done, 1 failed, 2 a wrong command line.
int runKeyTool(int argc, char** argv);
