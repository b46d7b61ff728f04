#include "fileprep/upload_file_writer.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kAddressDigits = 6;
constexpr int kChecksumOffset = kRecordSize - 1;

// Checksum regions, by page number, both ends included.
constexpr int kBootLastPage = 479;                              // 0x000000 - 0x00EFFF
constexpr int kFirmwareFirst = 512, kFirmwareLast = 3071;       // 0x010000 - 0x05FFFF
constexpr int kFpgaFirst = 3072, kFpgaLast = 4095;              // 0x060000 - 0x07FFFF
constexpr int kFpga2First = 5120, kFpga2Last = 14335;           // 0x0A0000 - 0x1BFFFF
constexpr int kFirmware2First = 14336, kFirmware2Last = 14847;  // 0x1C0000 - 0x1CFFFF
constexpr int kFpga3First = 14848, kFpga3Last = 16383;          // 0x1D0000 - 0x1FFFFF

enum class Region { Boot, Firmware, Fpga, None };

Region regionOf(int page) {
  if (page <= kBootLastPage) return Region::Boot;
  if ((page >= kFirmwareFirst && page <= kFirmwareLast) ||
      (page >= kFirmware2First && page <= kFirmware2Last))
    return Region::Firmware;
  if ((page >= kFpgaFirst && page <= kFpgaLast) || (page >= kFpga2First && page <= kFpga2Last) ||
      (page >= kFpga3First && page <= kFpga3Last))
    return Region::Fpga;
  return Region::None;
}

std::string hex4(std::int32_t sum) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(sum) & 0xFFFFu);
  return text;
}

}  // namespace

std::uint8_t RecordChecksum(const std::array<std::uint8_t, kRecordSize>& record) {
  unsigned sum = 0;
  for (int i = 0; i < kChecksumOffset; ++i) sum += record[static_cast<std::size_t>(i)];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

int BlockCountOfSize(std::uint64_t size) {
  return static_cast<int>(std::min<std::uint64_t>(size / kRecordSize, INT_MAX));
}

UploadFileContent MakeUploadFile(const ImageBytes& image, int pages) {
  UploadFileContent out;
  // Room for a record of every page: only what is written is ever touched.
  out.bytes.reserve(static_cast<std::size_t>(std::max(pages, 0)) * kRecordSize + kTrailerSize);
  std::int32_t bootSum = 0, firmwareSum = 0, fpgaSum = 0;
  std::array<std::uint8_t, kRecordSize> record{};
  std::array<std::uint8_t, kPageSize> erased;
  erased.fill(0xFF);
  const std::size_t held = image.size() / kPageSize;
  for (int page = 0; page < pages; ++page) {
    const std::size_t at = static_cast<std::size_t>(page) * kPageSize;
    // A page the image does not hold whole is erased flash past its end.
    const std::uint8_t* data =
        static_cast<std::size_t>(page) < held ? image.data() + at : erased.data();
    std::array<std::uint8_t, kPageSize> tail;
    if (data == erased.data() && at < image.size()) {
      tail = erased;
      std::memcpy(tail.data(), image.data() + at, image.size() - at);
      data = tail.data();
    }
    std::int32_t sum = 0;
    bool isErased = true;
    for (int b = 0; b < kPageSize; ++b) {
      sum += data[b];
      isErased = isErased && data[b] == 0xFF;
    }
    switch (regionOf(page)) {
      case Region::Boot:
        bootSum += sum;
        break;
      case Region::Firmware:
        firmwareSum += sum;
        break;
      case Region::Fpga:
        fpgaSum += sum;
        break;
      case Region::None:
        break;
    }
    if (isErased) continue;
    char address[kAddressDigits + 1];
    std::snprintf(address, sizeof address, "%06X", static_cast<unsigned>(page) * kPageSize);
    std::memcpy(record.data(), address, kAddressDigits);
    std::memcpy(record.data() + kAddressDigits, data, kPageSize);
    record[kChecksumOffset] = RecordChecksum(record);
    out.bytes.insert(out.bytes.end(), record.begin(), record.end());
    ++out.blockCount;
  }
  out.firmwareSum = hex4(firmwareSum);
  out.fpgaSum = hex4(fpgaSum);
  out.bootSum = hex4(bootSum);
  out.bytes.insert(out.bytes.end(), out.firmwareSum.begin(), out.firmwareSum.end());
  out.bytes.insert(out.bytes.end(), out.fpgaSum.begin(), out.fpgaSum.end());
  return out;
}
