// "kvuflash-cli upload FILE": a whole Software Upload on the command line, to one unit or to
// several at once (a production line's run): every port gets a unit of its own on the unit's
// one road, on a thread of its own, so that a unit that fails or waits holds up no other. With
// several, the file is converted once first; a table ends the run, and --json keeps one line
// per unit.
#pragma once

#include <iosfwd>

#include "cli/exit_status.h"
#include "cli/options.h"

// The options and exit statuses, for the shell's help text.
extern const char* const kUploadHelpText;

// Progress goes to `out` as a bar redrawn in place when `out` is a terminal (`terminal`), as
// plain lines otherwise. Returns 0 only when every unit completed, otherwise the exit status
// of the worst outcome.
int RunUpload(UploadOptions options, std::ostream& out, std::ostream& err, bool terminal);
