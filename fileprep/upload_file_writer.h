// The upload file (.KVU): one 135-byte record (six hex digits of the page address, the 128
// bytes of the page, a checksum byte) for every page of the image that holds anything but
// erased flash, then an 8-byte trailer with the Firmware and FPGA checksums of the image.
// Made from an image in memory, knowing nothing of the run that sends it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "components/upload_file.h"
#include "fileprep/binary_image.h"

struct UploadFileContent {
  std::vector<std::uint8_t> bytes;  // the records, then the trailer
  int blockCount = 0;
  // Four upper-case hexadecimal digits each: the sums of the image's regions, modulo 65536.
  std::string firmwareSum;
  std::string fpgaSum;
  std::string bootSum;  // pages 0 to 479; not stored in the file
};

// The upload file of the first `pages` pages of `image` (bytes the image lacks count as
// erased flash; bytes past the pages are left out).
UploadFileContent MakeUploadFile(const ImageBytes& image, int pages);

// The checksum text a conversion shows: "FFFF, FFFF" (Firmware, FPGA) for a Software Upload,
// the boot sum alone for the factory flash code.
inline std::string ChecksumText(const UploadFileContent& content, bool softwareUpload) {
  return softwareUpload ? content.firmwareSum + ", " + content.fpgaSum : content.bootSum;
}

// BlockCount of an existing upload file of `size` bytes (size / 135; the trailer drops out).
int BlockCountOfSize(std::uint64_t size);
