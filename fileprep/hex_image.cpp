#include "fileprep/hex_image.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "components/byte_file.h"
#include "components/file_errors.h"
#include "components/hex_text.h"

namespace {

// Columns of a line, counted from 0: byte count 1-2, offset 3-6, record type 8, data from 9.
constexpr std::size_t kCountColumn = 1;
constexpr std::size_t kOffsetColumn = 3;
constexpr std::size_t kTypeColumn = 8;
constexpr std::size_t kDataColumn = 9;
constexpr std::size_t kBaseDigits = 4;

constexpr std::size_t kReadChunk = 64 * 1024;
// No record reads past column 9 + 2 * 255; what a longer line holds beyond this is never
// examined, so a file without line ends cannot fill the memory.
constexpr std::size_t kLongestLineKept = 1024;

inline int hexDigit(char c) {
  return HexDigitValue(c);
}

std::string hexAddress(std::uint64_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%06llX", static_cast<unsigned long long>(address));
  return text;
}

std::string sizeText(std::uint32_t bytes) {
  constexpr std::uint32_t kKilo = 1024;
  if (bytes % (kKilo * kKilo) == 0) return std::to_string(bytes / (kKilo * kKilo)) + " MB";
  if (bytes % kKilo == 0) return std::to_string(bytes / kKilo) + " KB";
  return std::to_string(bytes) + " bytes";
}

// The shortest record, ":00000001FF": mark, byte count, offset, type and checksum.
constexpr std::size_t kRecordFrame = 11;

// Whether a line is a record as the format has it; when not, and `problem` is given, what is
// wrong with it, in the user's words. `line` has no blanks at either end; `size` is its true
// length, more than line.size() when the reader kept only the start of an endless line.
bool soundRecord(std::string_view line, std::size_t size, std::string* problem) {
  const auto fail = [problem](const std::string& text) {
    if (problem) *problem = text;
    return false;
  };
  if (line.front() != ':') return fail("the line does not begin with ':'");
  if (size >= 3 && hexDigit(line[1]) >= 0 && hexDigit(line[2]) >= 0) {
    const std::size_t count = static_cast<std::size_t>(hexDigit(line[1]) * 16 + hexDigit(line[2]));
    if (size != kRecordFrame + 2 * count) {
      return fail("the line has " + std::to_string(size) + " characters where its byte count (" +
                  std::string(line.substr(1, 2)) + ") calls for " +
                  std::to_string(kRecordFrame + 2 * count));
    }
  } else if (size < kRecordFrame) {
    return fail("the line has " + std::to_string(size) +
                (size == 1 ? " character" : " characters") + ", too few for a record");
  }
  // The bytes of a sound record add up to 0 modulo 256, its checksum included.
  unsigned sum = 0;
  int digits = 0;
  for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
    const int high = hexDigit(line[i]);
    const int low = hexDigit(line[i + 1]);
    digits |= high | low;
    sum += static_cast<unsigned>((high << 4) | low);
  }
  if (digits < 0) {
    for (std::size_t i = 1; i < line.size(); ++i) {
      if (hexDigit(line[i]) < 0) {
        return fail("the line holds " + CharacterText(line[i]) +
                    ", which is not a hexadecimal digit");
      }
    }
  }
  if ((sum & 0xFF) != 0) {
    const unsigned given = static_cast<unsigned>(hexDigit(line[line.size() - 2]) * 16 +
                                                 hexDigit(line[line.size() - 1]));
    const unsigned wanted = (given - sum) & 0xFF;
    char text[80];
    std::snprintf(text, sizeof text, "the checksum is %02X where the line's bytes call for %02X",
                  given, wanted);
    return fail(text);
  }
  return true;
}

// The state of one conversion: the image and the two address bases, kept as the text the
// extended address records carried (read as numbers where a data record uses them).
class HexConversion {
 public:
  HexConversion(ImageBytes& image, std::uint32_t addressLimit)
      : image_(image), addressLimit_(addressLimit) {}

  // `dropped`: characters of the line the reader did not keep, up to its last one that is not
  // blank.
  void line(std::string_view text, std::size_t dropped = 0) {
    ++report_.lines;
    // Blanks before the record mark are no part of a record, and what follows them is still
    // checked whole by its length and checksum; taken as columns they would shift every field.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    check(text, dropped);
    if (text.size() <= kTypeColumn) {  // no record type to examine
      ++report_.linesSkipped;
      return;
    }
    switch (text[kTypeColumn]) {
      case '0':
        writeData(text);
        break;
      case '1':
        report_.endRecordSeen = true;
        break;
      case '2':
        segmentBase_ = baseText(text, "extended segment address record (type 02)");
        break;
      case '4':
        linearBase_ = baseText(text, "extended linear address record (type 04)");
        break;
      default:  // start addresses and anything else
        ++report_.linesSkipped;
        break;
    }
  }

  bool ended() const { return report_.endRecordSeen; }
  const HexReadReport& report() const { return report_; }

 private:
  // Notes a line that is not a sound record; only the first one's problem is put in words.
  void check(std::string_view text, std::size_t dropped) {
    // Blanks that an editor left at the end of a line change nothing that is read.
    if (dropped == 0) {
      while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    }
    if (text.empty()) return;
    if (text.front() == ':') ++report_.records;
    const bool first = report_.badLines == 0;
    if (soundRecord(text, text.size() + dropped, first ? &report_.firstBadLineProblem : nullptr))
      return;
    if (first) report_.firstBadLine = report_.lines;
    ++report_.badLines;
  }

  [[noreturn]] void notANumber(std::string_view text) const {
    // A control or NUL byte would cut the message short, or move the terminal's cursor.
    throw EConvertError("Intel HEX line " + std::to_string(report_.lines) + ": " +
                        EConvertError::NotAnInteger(EscapedText(text)).what());
  }

  // A fixed-width field of the line; a field cut short by the end of the line is no number.
  std::uint32_t field(std::string_view line, std::size_t column, std::size_t width) const {
    const std::string_view text =
        column < line.size() ? line.substr(column, width) : std::string_view();
    std::uint32_t value = 0;
    if (text.size() != width || !HexValue(text, value)) notANumber(text);
    return value;
  }

  // The base an extended address record gives. One that holds fewer than its two bytes and
  // checksum would take its checksum, or part of it, for the base and put the data that follow
  // where nobody meant them: the first data record to use it is refused, naming it.
  std::string baseText(std::string_view line, const char* record) {
    shortBase_.clear();
    if (line.size() < kDataColumn + kBaseDigits + 2) {
      shortBase_ = "Intel HEX line " + std::to_string(report_.lines) + ": the " + record +
                   " is too short to give an address: it must hold two bytes and its checksum ('" +
                   EscapedText(line) + "')";
    }
    return std::string(line.substr(kDataColumn, kBaseDigits));
  }

  // An extended address base: empty text counts as 0.
  std::uint32_t baseValue(const std::string& text) const {
    std::uint32_t value = 0;
    if (!text.empty() && !HexValue(text, value)) notANumber(text);
    return value;
  }

  void writeData(std::string_view line) {
    if (!shortBase_.empty()) throw EConvertError(shortBase_);
    const std::uint32_t linearBase = baseValue(linearBase_) << 16;
    const std::uint32_t segmentBase = baseValue(segmentBase_) << 4;
    const std::uint32_t count = field(line, kCountColumn, 2);
    const std::uint32_t offset = field(line, kOffsetColumn, 4);
    const std::uint32_t address = linearBase + segmentBase + offset;  // wraps at 4 GB
    std::array<std::uint8_t, 255> data{};
    const char* text = line.data() + kDataColumn;
    // A line cut short, which its length has already made a bad line, gives the whole bytes it
    // still holds, as a bad line is used all the same when the user says so.
    const std::size_t held = line.size() > kDataColumn ? (line.size() - kDataColumn) / 2 : 0;
    const auto usable = static_cast<std::uint32_t>(std::min<std::size_t>(count, held));
    for (std::uint32_t i = 0; i < usable; ++i) {
      const int high = hexDigit(text[2 * i]);
      const int low = hexDigit(text[2 * i + 1]);
      if ((high | low) < 0) field(line, kDataColumn + 2 * i, 2);  // raises with the field's text
      data[i] = static_cast<std::uint8_t>((high << 4) | low);
    }
    ++report_.dataRecords;
    if (usable == 0) return;
    if (std::uint64_t{address} + usable > addressLimit_) {
      throw EConvertError("Intel HEX line " + std::to_string(report_.lines) +
                          " puts data at address " + hexAddress(address) + ", at or beyond the " +
                          sizeText(addressLimit_) + " limit (" + hexAddress(addressLimit_) +
                          ") of a binary image");
    }
    // Data past the image make it grow; a gap between is left as the file system leaves the
    // gap of a file written past its end, zero bytes.
    if (std::size_t{address} + usable > image_.size())
      image_.resize(std::size_t{address} + usable, 0x00);
    std::memcpy(image_.data() + address, data.data(), usable);
    report_.dataBytes += usable;
  }

  ImageBytes& image_;
  const std::uint32_t addressLimit_;
  std::string linearBase_ = "00";
  std::string segmentBase_;
  std::string shortBase_;  // why the base in force gives no address, if it does not
  HexReadReport report_;
};

// The lines of a text file, read in large pieces. A line ends at LF, CR or CR LF; the last
// line needs no line end.
class TextLineReader {
 public:
  explicit TextLineReader(const std::string& path) : buffer_(kReadChunk) {
    file_.Open(path, ByteFile::Mode::Read);
  }

  bool next(std::string_view& line) {
    carry_.clear();
    carried_ = 0;
    lastMark_ = 0;
    bool partial = false;
    for (;;) {
      if (pos_ == len_) {
        len_ = file_.Read(buffer_.data(), buffer_.size());
        pos_ = 0;
        if (len_ == 0) {
          line = carry_;
          return partial;
        }
      }
      if (skipLf_) {
        skipLf_ = false;
        if (buffer_[pos_] == '\n' && ++pos_ == len_) continue;
      }
      const std::size_t start = pos_;
      const char* base = buffer_.data();
      const void* lf = std::memchr(base + start, '\n', len_ - start);
      std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : len_;
      // A CR ends a line too, alone or before its LF.
      if (const void* cr = std::memchr(base + start, '\r', end - start)) {
        end = static_cast<std::size_t>(static_cast<const char*>(cr) - base);
      }
      if (end == len_) {
        keep(base + start, end - start);
        partial = true;
        pos_ = len_;
        continue;
      }
      skipLf_ = buffer_[end] == '\r';
      pos_ = end + 1;
      if (partial) {
        keep(base + start, end - start);
        line = carry_;
      } else {
        line = std::string_view(buffer_.data() + start, end - start);
      }
      return true;
    }
  }

  // Characters of the last line that were not kept, up to its last one that is not blank, so
  // that an endless line is reported with its true length.
  std::size_t dropped() const { return lastMark_ > carry_.size() ? lastMark_ - carry_.size() : 0; }

 private:
  // Part of a line that spans two reads; a line is kept up to kLongestLineKept characters.
  void keep(const char* text, std::size_t n) {
    for (std::size_t i = n; i > 0; --i) {
      if (text[i - 1] != ' ' && text[i - 1] != '\t') {
        lastMark_ = carried_ + i;
        break;
      }
    }
    carried_ += n;
    carry_.append(text, std::min(n, kLongestLineKept - std::min(kLongestLineKept, carry_.size())));
  }

  ByteFile file_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool skipLf_ = false;
  std::string carry_;
  std::size_t carried_ = 0;   // characters of the line in the pieces seen so far
  std::size_t lastMark_ = 0;  // just past its last character that is not blank
};

}  // namespace

HexReadReport ReadIntelHexFile(const std::string& path, ImageBytes& image,
                               std::uint32_t addressLimit) {
  HexConversion conversion(image, addressLimit);
  TextLineReader input(path);
  std::string_view line;
  // Editors that save text as UTF-8 may put a byte-order mark before the first record.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (input.next(line)) {
    if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark)
      line.remove_prefix(kByteOrderMark.size());
    conversion.line(line, input.dropped());
    while (!conversion.ended() && input.next(line)) conversion.line(line, input.dropped());
  }
  return conversion.report();
}

HexReadReport ReadIntelHexLines(const std::vector<std::string>& lines, ImageBytes& image,
                                const std::function<void(const std::string& line)>& onLine,
                                std::uint32_t addressLimit) {
  HexConversion conversion(image, addressLimit);
  for (const std::string& line : lines) {
    if (conversion.ended()) break;
    if (onLine) onLine(line);
    conversion.line(line);
  }
  return conversion.report();
}
