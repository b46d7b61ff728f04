// Any text as an Intel HEX source: the reader either converts it or raises its conversion or
// file error; it never crashes, never writes outside the image limit, and a conversion that
// failed leaves no complete-looking upload file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "components/file_errors.h"
#include "fileprep/hex_image.h"
#include "fileprep/upload_file_writer.h"

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
  // Through the file road, so the reader's own line splitting and line cap are fuzzed too.
  const std::string input = Folder() + "Fuzz.hex";
  {
    std::FILE* f = std::fopen(input.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
  }

  const std::string bin = Folder() + "Fuzz.BIN";
  const std::string kvu = Folder() + "Fuzz.KVU";
  std::filesystem::remove(bin);
  std::filesystem::remove(kvu);
  try {
    ImageBytes image = EmptyImage(kFactoryImagePages);  // a small image keeps each run fast
    ReadIntelHexFile(input, image, kHexAddressLimit);
    WriteWholeFile(bin, image);
    WriteWholeFile(kvu, MakeUploadFile(image, kFactoryImagePages).bytes);
  } catch (const EConvertError&) {
  } catch (const EInOutError&) {
  }
  std::error_code ec;
  const auto binSize = std::filesystem::file_size(bin, ec);
  if (!ec && binSize > kHexAddressLimit + 256) std::abort();
  const auto kvuSize = std::filesystem::file_size(kvu, ec);
  if (!ec && (kvuSize < kTrailerSize || (kvuSize - kTrailerSize) % kRecordSize != 0)) std::abort();
  return 0;
}
