// The control map's message: on a connection that agreed the control map,
// the published map (widgets/control_map.h) as one text message, sent after
// the first whole picture and again whenever the map has a new version.
// Only the newest map goes out: versions published while a connection was
// busy are never queued.
#pragma once

#include "server/records.h"

// Builds the message of the newest map in record->mapFrame when its version
// differs from record->mapVersion, which then becomes that version: the
// frame's length, else 0 (also on a connection that did not agree the map).
// Compressed when the connection agreed compression and that makes it
// smaller, compressed once per version for every connection.
int controlMapFrame(wssession* record);
