// Any text as an Intel HEX source: the reader either converts it or raises its conversion or
// file error; it never crashes, never writes outside the image limit, and a conversion that
// failed leaves no complete-looking upload file.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "components/file_errors.h"
#include "fileprep/hex_image.h"
#include "fileprep/upload_file_writer.h"
#include "sequencer/sequencer_state.h"

namespace {

std::string Folder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kv-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern + "/";
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  lines.push_back(line);
  lines.push_back(":00000001FF");  // the embedded image always ends with its end record

  SequencerState s;
  s.MainUploadMode = false;  // the embedded-image road: no input file to read
  s.ImagePages = kFactoryImagePages;
  s.BinFileName = Folder() + "Fuzz.BIN";
  s.UploadFileName = Folder() + "Fuzz.KVU";
  std::filesystem::remove(s.UploadFileName);
  try {
    EmptyImage(s);
    ReadHexImage(s, lines, [](const std::string&) {});
    s.UploadFile.Open(s.UploadFileName, ByteFile::Mode::CreateTemp);
    WriteUploadFile(s);
  } catch (const EConvertError&) {
  } catch (const EInOutError&) {
  }
  std::error_code ec;
  const auto bin = std::filesystem::file_size(s.BinFileName, ec);
  if (!ec && bin > kHexAddressLimit + 256) std::abort();
  const auto kvu = std::filesystem::file_size(s.UploadFileName, ec);
  if (!ec && (kvu < kTrailerSize || (kvu - kTrailerSize) % kRecordSize != 0)) std::abort();
  return 0;
}
