#include "fileprep/file_names.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string UpperAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

InputNameParts SplitInputName(const std::string& name) {
  InputNameParts parts;
  const auto dot = name.find('.');
  if (dot == std::string::npos) {
    parts.Extension = UpperAscii(name.substr(0, 3));
  } else {
    parts.Extension = UpperAscii(name.substr(dot + 1, 3));
    parts.BaseName = name.substr(0, dot);
  }
  return parts;
}

InputNameParts SplitChosenName(const std::string& path) {
  const fs::path p(path);
  const std::string name = p.filename().string();
  InputNameParts parts = SplitInputName(name);
  // The folder as it was written, separator included, so that a bare name stays bare.
  const std::string folder = path.substr(0, path.size() - name.size());
  parts.BaseName = folder + parts.BaseName;
  return parts;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return fs::is_regular_file(fs::path(path), ec);
}

void RequireOrdinaryFile(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(fs::path(path), ec);
  if (ec && status.type() != fs::file_type::not_found) {
    throw EInOutError(path + ": " + EInOutError::FromErrno(ec.value()).what(),
                      EInOutError::FromErrno(ec.value()).ErrorCode);
  }
  constexpr int kAccessDenied = 5;
  const auto notAFile = [&](const char* what) {
    return EInOutError(path + " is " + what + ", not a file", kAccessDenied);
  };
  switch (status.type()) {
    case fs::file_type::regular:
      return;
    case fs::file_type::not_found:
      throw EInOutError(path + ": File not found", 2);
    case fs::file_type::directory:
      throw notAFile("a folder");
    case fs::file_type::fifo:
      throw notAFile("a named pipe (FIFO)");
    case fs::file_type::block:
    case fs::file_type::character:
      throw notAFile("a device");
    case fs::file_type::socket:
      throw notAFile("a socket");
    default:
      throw notAFile("something other than a file");
  }
}

std::string ResolveExistingName(const std::string& path) {
#ifdef _WIN32
  return path;
#else
  if (path.empty()) return path;
  std::error_code ec;
  const fs::path p(path);
  if (fs::exists(fs::symlink_status(p, ec))) return path;
  const std::string wanted = UpperAscii(p.filename().string());
  if (wanted.empty()) return path;
  const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
  // Several spellings may exist side by side; take the first in name order so that the
  // choice does not depend on the order of the folder's entries.
  std::vector<std::string> matches;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (UpperAscii(name) == wanted) matches.push_back(name);
  }
  if (matches.empty()) return path;
  std::sort(matches.begin(), matches.end());
  return p.has_parent_path() ? (p.parent_path() / matches.front()).string() : matches.front();
#endif
}
