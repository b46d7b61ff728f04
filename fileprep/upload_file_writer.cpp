#include "fileprep/upload_file_writer.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "components/byte_file.h"

namespace {

constexpr int kAddressDigits = 6;
constexpr int kChecksumOffset = kRecordSize - 1;

// Checksum regions, by page number, both ends included.
constexpr int kBootLastPage = 479;                           // 0x000000 - 0x00EFFF
constexpr int kFirmwareFirst = 512, kFirmwareLast = 3071;    // 0x010000 - 0x05FFFF
constexpr int kFpgaFirst = 3072, kFpgaLast = 4095;           // 0x060000 - 0x07FFFF
constexpr int kFpga2First = 5120, kFpga2Last = 14335;        // 0x0A0000 - 0x1BFFFF
constexpr int kFirmware2First = 14336, kFirmware2Last = 14847;  // 0x1C0000 - 0x1CFFFF
constexpr int kFpga3First = 14848, kFpga3Last = 16383;       // 0x1D0000 - 0x1FFFFF

// Pages read, and records gathered, per system call.
constexpr int kPagesPerChunk = 512;

enum class Region { Boot, Firmware, Fpga, None };

Region regionOf(int page) {
  if (page <= kBootLastPage) return Region::Boot;
  if ((page >= kFirmwareFirst && page <= kFirmwareLast) || (page >= kFirmware2First && page <= kFirmware2Last))
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

void WriteUploadFile(SequencerState& S) {
  try {
    S.BinaryImage.Seek(0);
    S.BlockCount = 0;
    std::int32_t bootSum = 0, firmwareSum = 0, fpgaSum = 0;
    std::vector<std::uint8_t> pages(static_cast<std::size_t>(kPagesPerChunk) * kPageSize);
    std::vector<std::uint8_t> records;
    records.reserve(static_cast<std::size_t>(kPagesPerChunk) * kRecordSize);
    bool imageEnded = false;
    for (int first = 0; first < S.ImagePages; first += kPagesPerChunk) {
      const int count = std::min(kPagesPerChunk, S.ImagePages - first);
      const std::size_t want = static_cast<std::size_t>(count) * kPageSize;
      const std::size_t got = imageEnded ? 0 : S.BinaryImage.Read(pages.data(), want);
      if (got < want) {
        // An image shorter than its pages: the rest is erased flash, which makes no records.
        imageEnded = true;
        std::fill(pages.begin() + static_cast<std::ptrdiff_t>(got), pages.begin() + static_cast<std::ptrdiff_t>(want),
                  std::uint8_t{0xFF});
      }
      for (int i = 0; i < count; ++i) {
        const int page = first + i;
        const std::uint8_t* data = pages.data() + static_cast<std::size_t>(i) * kPageSize;
        std::int32_t sum = 0;
        bool erased = true;
        for (int b = 0; b < kPageSize; ++b) {
          sum += data[b];
          erased = erased && data[b] == 0xFF;
        }
        switch (regionOf(page)) {
          case Region::Boot: bootSum += sum; break;
          case Region::Firmware: firmwareSum += sum; break;
          case Region::Fpga: fpgaSum += sum; break;
          case Region::None: break;
        }
        if (erased) continue;
        char address[kAddressDigits + 1];
        std::snprintf(address, sizeof address, "%06X", static_cast<unsigned>(page) * kPageSize);
        std::memcpy(S.RecordBuffer.data(), address, kAddressDigits);
        std::memcpy(S.RecordBuffer.data() + kAddressDigits, data, kPageSize);
        S.RecordBuffer[kChecksumOffset] = RecordChecksum(S.RecordBuffer);
        records.insert(records.end(), S.RecordBuffer.begin(), S.RecordBuffer.end());
        ++S.BlockCount;
      }
      if (records.size() >= static_cast<std::size_t>(kPagesPerChunk) * kRecordSize / 2) {
        S.UploadFile.Write(records.data(), records.size());
        records.clear();
      }
    }
    const std::string firmwareText = hex4(firmwareSum);
    const std::string fpgaText = hex4(fpgaSum);
    std::memcpy(S.RecordBuffer.data(), firmwareText.data(), 4);
    std::memcpy(S.RecordBuffer.data() + 4, fpgaText.data(), 4);
    records.insert(records.end(), S.RecordBuffer.begin(), S.RecordBuffer.begin() + kTrailerSize);
    S.UploadFile.Write(records.data(), records.size());
    S.BinaryImage.Close();
    S.UploadFile.Commit();
    S.LastReply = S.MainUploadMode ? firmwareText + ", " + fpgaText : hex4(bootSum);
  } catch (...) {
    S.BinaryImage.Discard();
    S.UploadFile.Discard();
    S.BlockCount = 0;
    throw;
  }
}
