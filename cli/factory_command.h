// "kvuflash-cli factory": a whole Factory Bootstrap Upload on the command line, for a unit whose
// flash holds no working loader. It presses the window's buttons ("Factory Bootstrap Upload",
// then "&Proceed" once the user has fitted the jumpers and powered the unit) on a unit's shell,
// shows the bootstrap lines and then the records as progress, and ends with an exit status
// from the same table as upload.
#pragma once

#include <iosfwd>

#include "cli/options.h"

// The options and exit statuses, for the shell's help text.
extern const char* const kFactoryHelpText;

// `terminal`: standard output is a terminal (progress as a bar redrawn in place).
// `askToProceed`: standard input is a terminal, so "&Proceed" waits for Enter; otherwise it is
// pressed at once.
int RunFactory(const FactoryOptions& options, std::ostream& out, std::ostream& err, bool terminal,
               bool askToProceed);
