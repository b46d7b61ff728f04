// kvuflash-cli doctor: what on this machine stands in the way of a serial upload, each finding
// with the command that mends it.
#pragma once

#include <iosfwd>
#include <string>

#include "components/machine_check.h"

// `port` is the --port given ("3" or a device), empty when none was. Exit status: 0 when
// nothing stands in the way, 1 when something does.
int RunDoctor(std::ostream& out, const std::string& programDir, const std::string& port,
              const MachineRoots& roots = {});
