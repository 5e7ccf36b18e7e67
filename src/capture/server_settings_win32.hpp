#pragma once
// A capture medium carries only server=: the capture's settings come from the room server, asked for this PC
// (GET /pc.txt?mac=MAC) while WinPE's network comes up.
#include "capture_settings.hpp"
#include "watch/watch_settings.hpp"

namespace autodeploy::capture {

// Every 5 s for 120 s until the server answers with the share (a file without it: the server's share is not up
// yet), saying once that it waits; the body of a 200 read as the settings file. Winsock is started by the
// caller. Nothing changes when the server cannot be reached or answers otherwise.
void ask_server(const watch::Settings& pc, CaptureSettings& settings);

}  // namespace autodeploy::capture
