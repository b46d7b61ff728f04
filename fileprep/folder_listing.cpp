#include "fileprep/folder_listing.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool GlobMatches(const char* mask, const char* name) {
  // Iterative with one back-track point: a "*" retried one character further on a mismatch.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*mask == '*') {
      star = mask++;
      resume = name;
    } else if (*mask == '?' || (*mask != '\0' && Lower(*mask) == Lower(*name))) {
      ++mask;
      ++name;
    } else if (star != nullptr) {
      mask = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*mask == '*') ++mask;
  return *mask == '\0';
}

bool ByName(const std::string& a, const std::string& b) {
  const auto less = [](char x, char y) { return Lower(x) < Lower(y); };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), less)) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), less)) return false;
  return a < b;
}

bool IsHidden(const fs::directory_entry& entry) {
#ifdef _WIN32
  const DWORD attributes = ::GetFileAttributesW(entry.path().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
#else
  const std::string name = entry.path().filename().string();
  return !name.empty() && name[0] == '.';
#endif
}

// The visible entries of `folder` for which `keep` holds, by name.
template <typename Keep>
std::vector<std::string> ListEntries(const std::string& folder, Keep keep) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(fs::path(folder), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (IsHidden(*it)) continue;
    std::error_code kindError;
    if (keep(*it, kindError) && !kindError) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), ByName);
  return names;
}

#ifndef _WIN32
// Mount points of kernel and pseudo file systems, which hold no user's files.
bool IsPseudoMount(const std::string& point, const std::string& type) {
  for (const char* prefix : {"/proc", "/sys", "/dev", "/run", "/var/run", "/var/lock", "/snap"}) {
    const std::string p = prefix;
    if (point.compare(0, p.size(), p) == 0 && (point.size() == p.size() || point[p.size()] == '/'))
      return true;
  }
  for (const char* pseudo :
       {"proc",     "sysfs",      "devtmpfs",  "devpts",  "cgroup",      "cgroup2",
        "autofs",   "securityfs", "debugfs",   "tracefs", "pstore",      "bpf",
        "configfs", "fusectl",    "hugetlbfs", "mqueue",  "binfmt_misc", "rpc_pipefs",
        "nsfs",     "efivarfs",   "rootfs",    "squashfs"}) {
    if (type == pseudo) return true;
  }
  return false;
}

// The mount table writes a blank, a tab, a newline and a backslash as three octal digits.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    const bool octal = field[i] == '\\' && i + 3 < field.size() &&
                       std::all_of(field.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                   field.begin() + static_cast<std::ptrdiff_t>(i) + 4,
                                   [](char c) { return c >= '0' && c <= '7'; });
    if (octal) {
      out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<std::string> MountPoints() {
  std::vector<std::string> points;
  std::ifstream mounts("/proc/self/mounts");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, point, type;
    if (!(fields >> device >> point >> type)) continue;
    point = UnescapeMountField(point);
    if (IsPseudoMount(point, type)) continue;
    std::error_code ec;
    if (fs::is_directory(fs::path(point), ec)) points.push_back(point);
  }
  if (std::find(points.begin(), points.end(), "/") == points.end()) points.push_back("/");
  return points;
}
#endif

}  // namespace

bool NameMatchesMask(const std::string& name, const std::vector<std::string>& masks) {
  return std::any_of(masks.begin(), masks.end(), [&name](const std::string& mask) {
    return mask == "*.*" || GlobMatches(mask.c_str(), name.c_str());
  });
}

std::vector<std::string> ListFiles(const std::string& folder,
                                   const std::vector<std::string>& masks) {
  return ListEntries(folder, [&masks](const fs::directory_entry& entry, std::error_code& ec) {
    return entry.is_regular_file(ec) && NameMatchesMask(entry.path().filename().string(), masks);
  });
}

std::vector<std::string> ListSubfolders(const std::string& folder) {
  return ListEntries(folder, [](const fs::directory_entry& entry, std::error_code& ec) {
    return entry.is_directory(ec);
  });
}

std::vector<std::string> FolderChain(const std::string& folder) {
  std::vector<std::string> chain;
  fs::path walk = fs::path(CleanFolder(folder));
  while (true) {
    chain.push_back(walk.string());
    if (walk == walk.root_path() || !walk.has_relative_path()) break;
    walk = walk.parent_path();
  }
  std::reverse(chain.begin(), chain.end());
  return chain;
}

std::vector<std::string> ListDrives() {
  std::vector<std::string> drives;
#ifdef _WIN32
  char buffer[512] = {};
  const DWORD length = ::GetLogicalDriveStringsA(sizeof buffer - 1, buffer);
  for (const char* p = buffer; length != 0 && length < sizeof buffer && *p != '\0';
       p += std::char_traits<char>::length(p) + 1) {
    drives.emplace_back(p);
  }
#else
  drives = MountPoints();
#endif
  std::sort(drives.begin(), drives.end());
  drives.erase(std::unique(drives.begin(), drives.end()), drives.end());
  return drives;
}

std::string DriveOf(const std::string& folder) {
  const fs::path path(CleanFolder(folder));
#ifdef _WIN32
  return path.root_path().string();
#else
  // The longest mount point that the folder lies under.
  std::string best = "/";
  const std::string text = path.string();
  for (const std::string& point : MountPoints()) {
    const bool under = text.compare(0, point.size(), point) == 0 &&
                       (text.size() == point.size() || text[point.size()] == '/' || point == "/");
    if (under && point.size() > best.size()) best = point;
  }
  return best;
#endif
}

std::string CleanFolder(const std::string& folder) {
  std::error_code ec;
  fs::path path = fs::absolute(fs::path(folder), ec);
  if (ec) path = fs::path(folder);
  path = path.lexically_normal();
  if (path.has_relative_path() && !path.has_filename()) path = path.parent_path();
  path.make_preferred();
  return path.string();
}
