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
// (the factory flash code has records above its 64 KB image), but only below the limit the
// caller gives: a Software Upload's image is the unit's whole flash, so nothing may lie past
// it, and even the factory's image stays below 16 MB, so that a broken or crafted address
// cannot make a file of gigabytes.
inline constexpr std::uint32_t kHexAddressLimit = 0x1000000;

// What a conversion read.
struct HexReadReport {
  int lines = 0;        // lines read, the end-of-file record's included
  int records = 0;      // lines that begin with the record mark ':'
  int dataRecords = 0;  // data records written into the image
  std::uint64_t dataBytes = 0;
  int linesSkipped = 0;  // lines too short to hold a record type, and records of other types
  bool endRecordSeen = false;
  // Lines that are not as the format has them: no record mark, a character that is no
  // hexadecimal digit, a length other than the byte count calls for, or a checksum that does
  // not match the line's bytes. They are used all the same, as they always were (some old
  // tools wrote wrong checksums); the caller decides whether to trust such a file. Blank lines
  // are not counted.
  int badLines = 0;
  int firstBadLine = 0;             // its number, from 1
  std::string firstBadLineProblem;  // "the checksum is 3F where the line's bytes call for 40"
};

// Reads an Intel HEX text file into `image` (made by EmptyImage): each data record at the
// extended linear base (type 04, × 65536) plus the extended segment base (type 02, × 16) plus
// its offset, in 32-bit arithmetic; both bases start at 0. Stops after the end-of-file record
// or at the end of the file; a line ends at LF, CR or CR LF, and a UTF-8 byte-order mark
// before the first line is passed over, as are blanks before a line's record mark. Lines of
// fewer than nine characters hold no record type and are skipped, as are start-address
// records. Up to 255 data bytes a record; a data record cut short gives the whole bytes it
// holds (it is a bad line). A field that is not hexadecimal text raises EConvertError "Intel
// HEX line N: '%s' is not a valid integer value"; data at or past `addressLimit` raise
// EConvertError naming the line and the address; a file that cannot be read raises
// EInOutError.
HexReadReport ReadIntelHexFile(const std::string& path, ImageBytes& image,
                               std::uint32_t addressLimit);

// The same from lines the program carries, from the first until the end-of-file record.
// `onLine` (may be empty) sees each line before it is used.
HexReadReport ReadIntelHexLines(const std::vector<std::string>& lines, ImageBytes& image,
                                const std::function<void(const std::string& line)>& onLine,
                                std::uint32_t addressLimit = kHexAddressLimit);
