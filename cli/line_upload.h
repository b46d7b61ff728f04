// "kvuflash-cli upload --port 1 --port 2 ... FILE": a production line's run. The file is
// converted once; then every port gets a unit of its own, a whole Software Upload with its own
// shell (serial port, tick timer, sequencer) on a thread of its own, so that a unit that fails
// or waits holds up no other. One progress line per unit while they run, a table at the end,
// and one JSON line per unit in the log a line keeps.
#pragma once

#include <iosfwd>

#include "cli/upload_command.h"

// `options` with its paths made absolute. Returns 0 only when every unit completed, otherwise
// the exit status of the worst outcome.
int RunLineUpload(const UploadOptions& options, std::ostream& out, std::ostream& err,
                  bool terminal);
