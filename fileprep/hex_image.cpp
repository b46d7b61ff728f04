#include "fileprep/hex_image.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "components/byte_file.h"
#include "components/file_errors.h"

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

// Digit values of hexadecimal characters, -1 for any other byte.
constexpr std::array<std::int8_t, 256> kHexDigits = [] {
  std::array<std::int8_t, 256> t{};
  t.fill(-1);
  for (int c = '0'; c <= '9'; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
  return t;
}();

inline int hexDigit(char c) {
  return kHexDigits[static_cast<unsigned char>(c)];
}

// The value of hexadecimal text; false for anything else (the empty text included).
bool hexValue(std::string_view text, std::uint32_t& value) {
  if (text.empty()) return false;
  std::uint32_t v = 0;
  for (const char c : text) {
    const int d = hexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  value = v;
  return true;
}

// A fixed-width field of the line; a field cut short by the end of the line is no number.
std::uint32_t field(std::string_view line, std::size_t column, std::size_t width) {
  const std::string_view text =
      column < line.size() ? line.substr(column, width) : std::string_view();
  std::uint32_t value = 0;
  if (text.size() != width || !hexValue(text, value))
    throw EConvertError::NotAnInteger(std::string(text));
  return value;
}

// An extended address base: empty text counts as 0.
std::uint32_t baseValue(const std::string& text) {
  std::uint32_t value = 0;
  if (!text.empty() && !hexValue(text, value)) throw EConvertError::NotAnInteger(text);
  return value;
}

std::string hexAddress(std::uint64_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%06llX", static_cast<unsigned long long>(address));
  return text;
}

// The state of one conversion: the image and the two address bases, kept as the text the
// extended address records carried (read as numbers where a data record uses them).
class HexConversion {
 public:
  explicit HexConversion(ImageBytes& image) : image_(image) {}

  void line(std::string_view text) {
    ++report_.lines;
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
        segmentBase_ = std::string(text.substr(kDataColumn, kBaseDigits));
        break;
      case '4':
        linearBase_ = std::string(text.substr(kDataColumn, kBaseDigits));
        break;
      default:  // start addresses and anything else
        ++report_.linesSkipped;
        break;
    }
  }

  bool ended() const { return report_.endRecordSeen; }
  const HexReadReport& report() const { return report_; }

 private:
  void writeData(std::string_view line) {
    const std::uint32_t linearBase = baseValue(linearBase_) << 16;
    const std::uint32_t segmentBase = baseValue(segmentBase_) << 4;
    const std::uint32_t count = field(line, kCountColumn, 2);
    const std::uint32_t offset = field(line, kOffsetColumn, 4);
    const std::uint32_t address = linearBase + segmentBase + offset;  // wraps at 4 GB
    std::array<std::uint8_t, 255> data{};
    const char* text = line.data() + kDataColumn;
    if (line.size() >= kDataColumn + 2 * std::size_t{count}) {
      for (std::uint32_t i = 0; i < count; ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if ((high | low) < 0) field(line, kDataColumn + 2 * i, 2);  // raises with the field's text
        data[i] = static_cast<std::uint8_t>((high << 4) | low);
      }
    } else {
      for (std::uint32_t i = 0; i < count; ++i)
        data[i] = static_cast<std::uint8_t>(field(line, kDataColumn + 2 * i, 2));
    }
    ++report_.dataRecords;
    if (count == 0) return;
    if (std::uint64_t{address} + count > kHexAddressLimit) {
      throw EConvertError("Intel HEX line " + std::to_string(report_.lines) +
                          " puts data at address " + hexAddress(address) +
                          ", at or beyond the 16 MB limit (" + hexAddress(kHexAddressLimit) +
                          ") of a binary image");
    }
    // Data past the image make it grow; a gap between is left as the file system leaves the
    // gap of a file written past its end, zero bytes.
    if (std::size_t{address} + count > image_.size())
      image_.resize(std::size_t{address} + count, 0x00);
    std::memcpy(image_.data() + address, data.data(), count);
    report_.dataBytes += count;
  }

  ImageBytes& image_;
  std::string linearBase_ = "00";
  std::string segmentBase_;
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

 private:
  // Part of a line that spans two reads; a line is kept up to kLongestLineKept characters.
  void keep(const char* text, std::size_t n) {
    carry_.append(text, std::min(n, kLongestLineKept - std::min(kLongestLineKept, carry_.size())));
  }

  ByteFile file_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool skipLf_ = false;
  std::string carry_;
};

}  // namespace

HexReadReport ReadIntelHexFile(const std::string& path, ImageBytes& image) {
  HexConversion conversion(image);
  TextLineReader input(path);
  std::string_view line;
  while (!conversion.ended() && input.next(line)) conversion.line(line);
  return conversion.report();
}

HexReadReport ReadIntelHexLines(const std::vector<std::string>& lines, ImageBytes& image,
                                const std::function<void(const std::string& line)>& onLine) {
  HexConversion conversion(image);
  for (const std::string& line : lines) {
    if (conversion.ended()) break;
    if (onLine) onLine(line);
    conversion.line(line);
  }
  return conversion.report();
}
