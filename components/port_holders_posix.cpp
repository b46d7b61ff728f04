#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "components/port_holders.h"

namespace fs = std::filesystem;

std::vector<PortHolder> ProcessesHolding(const std::string& device, const std::string& procRoot) {
  std::vector<PortHolder> holders;
  struct stat target {};
  if (::stat(device.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return holders;
  const std::string self = std::to_string(::getpid());
  std::error_code ec;
  for (fs::directory_iterator process(procRoot, ec), end; !ec && process != end;
       process.increment(ec)) {
    const std::string pid = process->path().filename().string();
    if (pid.empty() || pid == self || !std::isdigit(static_cast<unsigned char>(pid[0]))) continue;
    std::error_code fdEc;
    for (fs::directory_iterator fd(process->path() / "fd", fdEc), fdEnd; !fdEc && fd != fdEnd;
         fd.increment(fdEc)) {
      struct stat held {};
      // The entry is a link to whatever the descriptor is: following it names the device.
      if (::stat(fd->path().c_str(), &held) != 0 || !S_ISCHR(held.st_mode) ||
          held.st_rdev != target.st_rdev)
        continue;
      PortHolder holder;
      holder.pid = std::stoi(pid);
      std::ifstream comm(process->path() / "comm");
      std::getline(comm, holder.name);
      if (holder.name.empty()) holder.name = "a program";
      holders.push_back(holder);
      break;
    }
  }
  return holders;
}

std::string DescribeHolders(const std::vector<PortHolder>& holders) {
  std::string text;
  for (std::size_t i = 0; i < holders.size(); ++i) {
    if (i > 0) text += i + 1 == holders.size() ? " and " : ", ";
    text += holders[i].name + " (process " + std::to_string(holders[i].pid) + ")";
  }
  return text;
}
