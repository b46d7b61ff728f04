#include "fileprep/binary_image.h"

#include <algorithm>

#include "components/byte_file.h"
#include "components/file_errors.h"

ImageBytes EmptyImage(int pages) {
  return ImageBytes(static_cast<std::size_t>(std::max(pages, 0)) * kPageSize, 0xFF);
}

ImageBytes ReadBinaryImage(const std::string& path, int pages) {
  ByteFile file;
  file.Open(path, ByteFile::Mode::Read);
  ImageBytes image = EmptyImage(pages);
  // An image bigger than the flash is for another unit or damaged; cutting it to fit would
  // send part of it without a word, as data past the flash in an Intel HEX file would.
  if (const std::uint64_t size = file.Size(); size > image.size()) {
    constexpr std::size_t kMegabyte = 1024 * 1024;
    std::string limit = std::to_string(image.size()) + " bytes";
    if (image.size() % kMegabyte == 0)
      limit = std::to_string(image.size() / kMegabyte) + " MB (" + limit + ")";
    throw EConvertError("the image is " + std::to_string(size) + " bytes, more than the " + limit +
                        " of the unit's flash");
  }
  std::size_t got = 0;
  while (got < image.size()) {
    const std::size_t n = file.Read(image.data() + got, image.size() - got);
    if (n == 0) break;
    got += n;
  }
  // What a short image does not hold stays erased.
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(got), image.end(), std::uint8_t{0xFF});
  file.Close();
  return image;
}

void WriteWholeFile(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
  ByteFile file;
  file.Open(path, ByteFile::Mode::CreateTemp);
  try {
    file.Write(bytes, size);
    file.Commit();
  } catch (...) {
    file.Discard();
    throw;
  }
}
