#include "fileprep/upload_file_writer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "components/hex_text.h"

int BlockCountOfSize(std::uint64_t size) {
  return static_cast<int>(std::min<std::uint64_t>(size / kRecordSize, INT_MAX));
}

UploadFileContent MakeUploadFile(const ImageBytes& image, int pages) {
  UploadFileContent out;
  // Room for a record of every page: only what is written is ever touched.
  out.bytes.reserve(static_cast<std::size_t>(std::max(pages, 0)) * kRecordSize + kTrailerSize);
  std::uint32_t bootSum = 0, firmwareSum = 0, fpgaSum = 0;
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
    std::uint32_t sum = 0;
    bool isErased = true;
    for (int b = 0; b < kPageSize; ++b) {
      sum += data[b];
      isErased = isErased && data[b] == 0xFF;
    }
    switch (AreaOfPage(page)) {
      case ChecksumArea::Boot:
        bootSum += sum;
        break;
      case ChecksumArea::Firmware:
        firmwareSum += sum;
        break;
      case ChecksumArea::Fpga:
        fpgaSum += sum;
        break;
      case ChecksumArea::None:
        break;
    }
    if (isErased) continue;
    const std::string address =
        HexDigits(static_cast<std::uint32_t>(page) * kPageSize, kAddressSize);
    std::memcpy(record.data(), address.data(), kAddressSize);
    std::memcpy(record.data() + kAddressSize, data, kPageSize);
    record[kChecksumOffset] = RecordChecksum(record);
    out.bytes.insert(out.bytes.end(), record.begin(), record.end());
    ++out.blockCount;
  }
  out.firmwareSum = SumText(firmwareSum);
  out.fpgaSum = SumText(fpgaSum);
  out.bootSum = SumText(bootSum);
  out.bytes.insert(out.bytes.end(), out.firmwareSum.begin(), out.firmwareSum.end());
  out.bytes.insert(out.bytes.end(), out.fpgaSum.begin(), out.fpgaSum.end());
  return out;
}
