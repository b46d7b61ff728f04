// The upload file's rules in one place, for the writer that makes it, the check before "GO",
// the sender that reads it and the command line that reports it: the record checksum, the
// areas of the unit's checksums, the trailer and the check of a whole file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "components/upload_format.h"

inline constexpr int kChecksumOffset = kRecordSize - 1;  // record byte 134
inline constexpr int kSumDigits = 4;                     // each trailer field
// The largest upload file: a record of every page of the unit's flash, and the trailer.
inline constexpr std::uint64_t kLargestUploadFile =
    std::uint64_t{kSoftwareImagePages} * kRecordSize + kTrailerSize;

// The sum of record bytes 0 to 133, modulo 256: the record's byte 134.
std::uint8_t RecordChecksum(const std::uint8_t* record);
inline std::uint8_t RecordChecksum(const std::array<std::uint8_t, kRecordSize>& record) {
  return RecordChecksum(record.data());
}

// The areas of flash whose sums the unit reports (the boot area only to a factory run).
enum class ChecksumArea { Boot, Firmware, Fpga, None };
ChecksumArea AreaOfPage(int page);
// A sum as the trailer and the unit write it: four upper-case digits, modulo 65536.
std::string SumText(std::uint32_t sum);

// The two fields of a trailer, as they stand, and what is wrong with them: empty, or "the FPGA
// checksum 'zz12' is not four upper-case hexadecimal digits".
struct UploadTrailer {
  std::string firmwareSum;
  std::string fpgaSum;
  std::string problem;
};
UploadTrailer ReadTrailer(const std::uint8_t* trailer);

enum class UploadFileFault {
  None,
  NotWholeRecords,  // not whole records followed by the trailer
  TooLarge,         // more records than the unit has pages
  NoRecords,
  DamagedRecord,   // a checksum byte or an address that the unit would refuse
  DamagedTrailer,  // a field that is no checksum
  SumsDisagree     // sound fields, but not the sums of the file's own records
};

// What a whole upload file holds and what is wrong with it.
struct UploadFileCheck {
  UploadFileFault fault = UploadFileFault::None;
  int records = 0;
  UploadTrailer trailer;
  // The sums of the records, erased pages counted as 0xFF.
  std::string firmwareSum;
  std::string fpgaSum;
  // The fault in the user's words, naming the file and what to do; empty when sound.
  std::string problem;
};
UploadFileCheck CheckUploadFile(const std::uint8_t* bytes, std::size_t size,
                                const std::string& name);
class HeldUploadFile;
UploadFileCheck CheckUploadFile(const HeldUploadFile& file, const std::string& name);

// The whole of an upload file in memory, read once when a run starts, so that a file
// overwritten or cut short while the records go cannot change what is sent. Reads and seeks
// as the file did.
class HeldUploadFile {
 public:
  // Reads `path` whole; raises EInOutError. A file larger than any upload file is held only
  // up to a byte past that size (enough for the check to refuse it).
  void Load(const std::string& path);
  void Hold(std::vector<std::uint8_t> bytes);
  void Close();
  bool IsOpen() const { return open_; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  // The file's size when it was read (more than Bytes() holds of a file too large).
  std::uint64_t Size() const { return size_; }
  std::size_t Read(void* buffer, std::size_t n);
  void Seek(std::uint64_t position) { at_ = position; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t at_ = 0;
  std::uint64_t size_ = 0;
  bool open_ = false;
};
