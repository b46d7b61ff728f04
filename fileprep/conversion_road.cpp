#include "fileprep/conversion_road.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "components/byte_file.h"
#include "fileprep/file_names.h"

namespace fs = std::filesystem;

namespace {

// Whether the file at `path` holds exactly `bytes`; false when it cannot be read.
bool Holds(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  try {
    ByteFile file;
    file.Open(path, ByteFile::Mode::Read);
    if (file.Size() != bytes.size()) return false;
    // In pieces: a second 4 MB image in memory only to compare it would double the peak.
    std::vector<std::uint8_t> piece(64 * 1024);
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t n = file.Read(piece.data(), std::min(piece.size(), bytes.size() - at));
      if (n == 0 || !std::equal(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n),
                                bytes.begin() + static_cast<std::ptrdiff_t>(at)))
        return false;
      at += n;
    }
    return true;
  } catch (const EInOutError&) {
    return false;
  }
}

}  // namespace

InputKind InputKindOf(const std::string& extension) {
  if (extension == "MCS" || extension == "H86" || extension == "HEX") return InputKind::IntelHex;
  if (extension == "BIN") return InputKind::BinaryImage;
  if (extension == "KVU") return InputKind::UploadFile;
  return InputKind::Other;
}

HexImage HexFileToImage(const std::string& path, int pages) {
  HexImage out{EmptyImage(pages), {}};
  const auto limit = static_cast<std::uint32_t>(pages) * kPageSize;
  out.report = NamingFile(path, [&] { return ReadIntelHexFile(path, out.image, limit); });
  return out;
}

HexImage HexLinesToImage(const std::vector<std::string>& lines, int pages,
                         const std::function<void(const std::string& line)>& onLine) {
  HexImage out{EmptyImage(pages), {}};
  out.report = ReadIntelHexLines(lines, out.image, onLine);
  return out;
}

std::string WriteDerivedFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  const bool keep = fs::is_regular_file(path, ec) && !Holds(path, bytes);
  const std::string copy = keep ? path + "~" : std::string();
  NamingFile(path, [&] {
    ByteFile file;
    file.Open(path, ByteFile::Mode::CreateTemp);
    try {
      file.Write(bytes.data(), bytes.size());
    } catch (...) {
      file.Discard();
      throw;
    }
    // Copied only once the new file is whole beside it, so that a full disk stops the new file
    // first and leaves the old one alone; the old file is then replaced in place, keeping the
    // case its name was spelt in.
    if (keep) {
      fs::copy_file(path, copy, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        file.Discard();
        std::error_code ignored;
        fs::remove(copy, ignored);
        throw EInOutError("the earlier file cannot be kept as " +
                              fs::path(copy).filename().string() + ": " + ec.message(),
                          ec.value());
      }
    }
    file.Commit();
  });
  return copy;
}

std::string KeptCopyText(const std::string& path, const std::string& copy) {
  return "The earlier " + fs::path(path).filename().string() +
         ", which held something else, is kept as " + fs::path(copy).filename().string();
}
