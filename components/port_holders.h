// Which other programs have a serial device open. A terminal program that opened a port
// without locking it would otherwise share it with us and take the unit's answers; saying who
// holds it tells the user what to close.
#pragma once

#include <string>
#include <vector>

struct PortHolder {
  int pid = 0;
  std::string name;  // the program's name, as the system lists it
};

// The processes other than this one that hold `device` open, from the system's process table
// under `procRoot` (a folder of numbered process folders with "fd" and "comm"). Empty where
// the table cannot be read.
std::vector<PortHolder> ProcessesHolding(const std::string& device,
                                         const std::string& procRoot = "/proc");

// "minicom (process 1234)", "minicom (process 1234) and screen (process 99)".
std::string DescribeHolders(const std::vector<PortHolder>& holders);
