#include "fileprep/input_checks.h"

#include <algorithm>

namespace {

constexpr const char* kChooseAnother = ". Choose another file";
constexpr const char* kNoData = " holds no data for the unit: ";

}  // namespace

bool ImageHoldsData(const ImageBytes& image, int pages) {
  const std::size_t bytes =
      std::min(image.size(), static_cast<std::size_t>(std::max(pages, 0)) * kPageSize);
  return std::any_of(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(bytes),
                     [](std::uint8_t b) { return b != 0xFF; });
}

std::string NothingToSendFromHex(const std::string& name, const HexReadReport& report) {
  const int lines = report.lines;
  if (lines == 0) return name + " is empty: it holds no data for the unit" + kChooseAnother;
  if (report.records == 0) {
    return name + " holds no Intel HEX records: " +
           (lines == 1 ? std::string("its one line does not")
                       : "none of its " + std::to_string(lines) + " lines") +
           " begin" + (lines == 1 ? "" : "s") + " with ':'" + kChooseAnother;
  }
  if (report.dataBytes == 0) {
    return name + kNoData +
           (lines == 1 ? std::string("the one line read is not")
                       : "none of the " + std::to_string(lines) + " lines read is") +
           " a data record with bytes to write" + kChooseAnother;
  }
  return name + kNoData +
         (report.dataRecords == 1
              ? std::string("its one data record holds")
              : "its " + std::to_string(report.dataRecords) + " data records hold") +
         " only bytes of 0xFF, which erased flash holds already" + kChooseAnother;
}

std::string NothingToSendFromBinary(const std::string& name, std::uint64_t size) {
  if (size == 0) return name + " is empty: it holds no data for the unit" + kChooseAnother;
  return name + kNoData + "where the unit's flash lies it holds only bytes of 0xFF, which " +
         "erased flash holds already" + kChooseAnother;
}

std::string BadLinesText(const std::string& name, const HexReadReport& report) {
  if (report.badLines == 0) return {};
  std::string text =
      name + " line " + std::to_string(report.firstBadLine) + ": " + report.firstBadLineProblem;
  if (report.badLines > 1) text += " (" + std::to_string(report.badLines) + " bad lines in all)";
  return text;
}

std::string BadLinesQuestion(const std::string& name, const HexReadReport& report) {
  return BadLinesText(name, report) +
         ". Some old tools wrote wrong checksums, but the file may be damaged. Use it anyway?";
}

std::string BadLinesRefusal(const std::string& name, const HexReadReport& report) {
  return BadLinesText(name, report) + ". The file was not used; choose another file";
}
