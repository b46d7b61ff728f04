// The binary image of the unit's flash as the conversions build it in memory: pages of 128
// bytes, 0xFF where the flash is erased. An Intel HEX source may place data past the image's
// pages; the image then grows to hold them (as the .BIN file on disk does), and the upload file
// takes only the image's pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "components/upload_format.h"

using ImageBytes = std::vector<std::uint8_t>;

// `pages` pages of erased flash.
ImageBytes EmptyImage(int pages);

// A binary image file as `pages` pages: bytes past its end count as erased flash. The file is
// only read, so an image on read-only media converts too. A file larger than the pages raises
// EConvertError, saying its size and theirs; one that cannot be opened or read raises
// EInOutError.
ImageBytes ReadBinaryImage(const std::string& path, int pages);

// Writes `bytes` to `path` whole or not at all: under a temporary name beside it, renamed over
// an older file of that name only when everything is on the disk. Raises EInOutError.
void WriteWholeFile(const std::string& path, const std::uint8_t* bytes, std::size_t size);
inline void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  WriteWholeFile(path, bytes.data(), bytes.size());
}
