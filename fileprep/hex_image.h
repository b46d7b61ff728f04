// Intel HEX text to a binary image: every data record written at its address into an image
// of erased flash. A function of its source alone (a file, or the lines of an image the
// program carries); it knows nothing of the unit or of the run that uses it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fileprep/binary_image.h"

// Data addressed past the image's pages still go into the image, which grows to hold them
// (the factory flash code has records above its 64 KB image), but only below 16 MB: a broken
// or crafted address must not make a file of gigabytes.
inline constexpr std::uint32_t kHexAddressLimit = 0x1000000;

// What a conversion read.
struct HexReadReport {
  int lines = 0;        // lines read, the end-of-file record's included
  int dataRecords = 0;  // data records written into the image
  std::uint64_t dataBytes = 0;
  int linesSkipped = 0;  // lines too short to hold a record type, and records of other types
  bool endRecordSeen = false;
};

// Reads an Intel HEX text file into `image` (made by EmptyImage): each data record at the
// extended linear base (type 04, × 65536) plus the extended segment base (type 02, × 16) plus
// its offset, in 32-bit arithmetic; both bases start at 0. Stops after the end-of-file record
// or at the end of the file; a line ends at LF, CR or CR LF. Lines of fewer than nine
// characters hold no record type and are skipped, as are start-address records. Up to 255
// data bytes a record. A field that is not hexadecimal text raises EConvertError "'%s' is not
// a valid integer value"; data at or past kHexAddressLimit raise EConvertError naming the line
// and the address; a file that cannot be read raises EInOutError.
HexReadReport ReadIntelHexFile(const std::string& path, ImageBytes& image);

// The same from lines the program carries, from the first until the end-of-file record.
// `onLine` (may be empty) sees each line before it is used.
HexReadReport ReadIntelHexLines(const std::vector<std::string>& lines, ImageBytes& image,
                                const std::function<void(const std::string& line)>& onLine);
