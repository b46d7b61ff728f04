#include "components/upload_file.h"

#include <algorithm>
#include <cstring>

#include "components/byte_file.h"
#include "components/hex_text.h"

namespace {

// Checksum areas, by page number, both ends included.
constexpr int kBootLastPage = 479;                              // 0x000000 - 0x00EFFF
constexpr int kFirmwareFirst = 512, kFirmwareLast = 3071;       // 0x010000 - 0x05FFFF
constexpr int kFpgaFirst = 3072, kFpgaLast = 4095;              // 0x060000 - 0x07FFFF
constexpr int kFpga2First = 5120, kFpga2Last = 14335;           // 0x0A0000 - 0x1BFFFF
constexpr int kFirmware2First = 14336, kFirmware2Last = 14847;  // 0x1C0000 - 0x1CFFFF
constexpr int kFpga3First = 14848, kFpga3Last = 16383;          // 0x1D0000 - 0x1FFFFF
constexpr std::uint32_t kErasedPageSum = kPageSize * 0xFFu;

std::string checkField(const std::string& field, const char* name) {
  if (std::all_of(field.begin(), field.end(), IsHexDigit)) return {};
  return std::string("the ") + name + " checksum '" +
         PrintableText(reinterpret_cast<const std::uint8_t*>(field.data()), field.size()) +
         "' is not four upper-case hexadecimal digits";
}

std::string damaged(const std::string& name, const std::string& what) {
  return "The upload file " + name + " is damaged: " + what +
         ". Make the upload file again or choose another";
}

// The record's problem, or empty; `page` is its page once sound.
std::string checkRecord(const std::uint8_t* record, int number, int& page) {
  const std::string n = std::to_string(number);
  const std::uint8_t expected = RecordChecksum(record);
  if (record[kChecksumOffset] != expected) {
    return "record " + n + " (address " + PrintableText(record, kAddressSize) +
           ") has the checksum " + HexByte(record[kChecksumOffset]) + " where its bytes call for " +
           HexByte(expected);
  }
  // The unit halts, or refuses the record for ever, at an address it does not have; by then
  // its flash is erased.
  const char* a = reinterpret_cast<const char*>(record);
  std::uint32_t address = 0;
  if (!std::all_of(a, a + kAddressSize, IsHexDigit) ||
      !HexValue(std::string_view(a, kAddressSize), address) ||
      address + kPageSize > kUnitFlashBytes) {
    return "record " + n + " has the address " + PrintableText(record, kAddressSize) +
           ", which is not one of the unit's 4 MB of flash";
  }
  page = static_cast<int>(address / kPageSize);
  return {};
}

UploadFileCheck tooLarge(const std::string& name, std::uint64_t size) {
  UploadFileCheck c;
  c.fault = UploadFileFault::TooLarge;
  c.problem = "The upload file " + name + " is not an upload file for this unit: its " +
              std::to_string(size) + " bytes are more than the " +
              std::to_string(kLargestUploadFile) +
              " of a record of every page of its flash and the trailer. Choose another file";
  return c;
}

}  // namespace

std::uint8_t RecordChecksum(const std::uint8_t* record) {
  unsigned sum = 0;
  for (int i = 0; i < kChecksumOffset; ++i) sum += record[i];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

ChecksumArea AreaOfPage(int page) {
  if (page <= kBootLastPage) return ChecksumArea::Boot;
  if ((page >= kFirmwareFirst && page <= kFirmwareLast) ||
      (page >= kFirmware2First && page <= kFirmware2Last))
    return ChecksumArea::Firmware;
  if ((page >= kFpgaFirst && page <= kFpgaLast) || (page >= kFpga2First && page <= kFpga2Last) ||
      (page >= kFpga3First && page <= kFpga3Last))
    return ChecksumArea::Fpga;
  return ChecksumArea::None;
}

std::string SumText(std::uint32_t sum) {
  return HexDigits(sum, kSumDigits);
}

UploadTrailer ReadTrailer(const std::uint8_t* trailer) {
  UploadTrailer t;
  t.firmwareSum.assign(reinterpret_cast<const char*>(trailer), kSumDigits);
  t.fpgaSum.assign(reinterpret_cast<const char*>(trailer) + kSumDigits, kSumDigits);
  t.problem = checkField(t.firmwareSum, "Firmware");
  if (t.problem.empty()) t.problem = checkField(t.fpgaSum, "FPGA");
  return t;
}

UploadFileCheck CheckUploadFile(const HeldUploadFile& file, const std::string& name) {
  if (file.Size() > kLargestUploadFile) return tooLarge(name, file.Size());
  return CheckUploadFile(file.Bytes().data(), file.Bytes().size(), name);
}

UploadFileCheck CheckUploadFile(const std::uint8_t* bytes, std::size_t size,
                                const std::string& name) {
  if (size > kLargestUploadFile) return tooLarge(name, size);
  UploadFileCheck c;
  if (size < kTrailerSize || (size - kTrailerSize) % kRecordSize != 0) {
    c.fault = UploadFileFault::NotWholeRecords;
    c.problem = "The upload file " + name + " is not a complete upload file: its " +
                std::to_string(size) + " bytes are not whole " + std::to_string(kRecordSize) +
                "-byte records followed by the " + std::to_string(kTrailerSize) +
                "-byte checksum trailer. Choose another file";
    return c;
  }
  c.records = static_cast<int>((size - kTrailerSize) / kRecordSize);
  // Sent, it would have the unit erase its flash and write nothing.
  if (c.records == 0) {
    c.fault = UploadFileFault::NoRecords;
    c.problem = "The upload file " + name + " holds no records, only its checksum trailer: " +
                "there is nothing to send to the unit. Choose another file";
    return c;
  }
  // What the unit's flash will hold, page by page: a later record of a page replaces an
  // earlier one there too.
  std::vector<std::uint32_t> pageSums(kSoftwareImagePages, kErasedPageSum);
  for (int r = 0; r < c.records; ++r) {
    const std::uint8_t* record = bytes + static_cast<std::size_t>(r) * kRecordSize;
    int page = 0;
    if (std::string what = checkRecord(record, r + 1, page); !what.empty()) {
      c.fault = UploadFileFault::DamagedRecord;
      c.problem = damaged(name, what);
      return c;
    }
    std::uint32_t sum = 0;
    for (int b = kAddressSize; b < kChecksumOffset; ++b) sum += record[b];
    pageSums[static_cast<std::size_t>(page)] = sum;
  }
  const std::uint8_t* trailer = bytes + size - kTrailerSize;
  c.trailer = ReadTrailer(trailer);
  if (!c.trailer.problem.empty()) {
    c.fault = UploadFileFault::DamagedTrailer;
    c.problem = damaged(name, "its checksum trailer '" + PrintableText(trailer, kTrailerSize) +
                                  "' is no pair of checksums: " + c.trailer.problem);
    return c;
  }
  std::uint32_t firmware = 0, fpga = 0;
  for (int page = 0; page < kSoftwareImagePages; ++page) {
    const ChecksumArea area = AreaOfPage(page);
    if (area == ChecksumArea::Firmware) firmware += pageSums[static_cast<std::size_t>(page)];
    if (area == ChecksumArea::Fpga) fpga += pageSums[static_cast<std::size_t>(page)];
  }
  c.firmwareSum = SumText(firmware);
  c.fpgaSum = SumText(fpga);
  if (c.firmwareSum != c.trailer.firmwareSum || c.fpgaSum != c.trailer.fpgaSum) {
    c.fault = UploadFileFault::SumsDisagree;
    // The unit's sums are compared with the trailer after a large upload: a wrong one would
    // call a sound flash different, or a damaged one the same.
    c.problem = "The upload file " + name + " may be damaged: its trailer holds the checksums " +
                c.trailer.firmwareSum + ", " + c.trailer.fpgaSum + " where its records give " +
                c.firmwareSum + ", " + c.fpgaSum;
  }
  return c;
}

void HeldUploadFile::Load(const std::string& path) {
  ByteFile file;
  file.Open(path, ByteFile::Mode::Read);
  const std::uint64_t size = file.Size();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(size, kLargestUploadFile + 1)));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const std::size_t n = file.Read(bytes.data() + got, bytes.size() - got);
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  Hold(std::move(bytes));
  size_ = std::max<std::uint64_t>(size, got);
}

void HeldUploadFile::Hold(std::vector<std::uint8_t> bytes) {
  bytes_ = std::move(bytes);
  size_ = bytes_.size();
  at_ = 0;
  open_ = true;
}

void HeldUploadFile::Close() {
  bytes_ = {};
  at_ = size_ = 0;
  open_ = false;
}

std::size_t HeldUploadFile::Read(void* buffer, std::size_t n) {
  if (at_ >= bytes_.size()) return 0;
  const std::size_t count = std::min<std::size_t>(n, bytes_.size() - static_cast<std::size_t>(at_));
  std::memcpy(buffer, bytes_.data() + at_, count);
  at_ += count;
  return count;
}
