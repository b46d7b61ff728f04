// Any bytes as an upload file: the check never crashes, finds a file sound only when it is
// whole records with sound checksums and addresses behind which stands a trailer of two
// checksums, and names a fault whenever it finds one.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "components/hex_text.h"
#include "components/upload_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const UploadFileCheck c = CheckUploadFile(data, size, "Fuzz.KVU");
  if (c.fault != UploadFileFault::None && c.problem.find("Fuzz.KVU") == std::string::npos)
    std::abort();
  if (c.fault != UploadFileFault::None && c.fault != UploadFileFault::SumsDisagree) return 0;
  if (c.records < 1 || static_cast<std::size_t>(c.records) * kRecordSize + kTrailerSize != size)
    std::abort();
  for (int r = 0; r < c.records; ++r) {
    const std::uint8_t* record = data + static_cast<std::size_t>(r) * kRecordSize;
    if (RecordChecksum(record) != record[kChecksumOffset]) std::abort();
    for (int i = 0; i < kAddressSize; ++i)
      if (!IsHexDigit(static_cast<char>(record[i]))) std::abort();
  }
  const UploadTrailer t = ReadTrailer(data + size - kTrailerSize);
  if (!t.problem.empty()) std::abort();
  if ((c.fault == UploadFileFault::None) !=
      (t.firmwareSum + t.fpgaSum == c.firmwareSum + c.fpgaSum))
    std::abort();
  return 0;
}
