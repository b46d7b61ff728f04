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

bool HexLooksDamaged(const HexReadReport& report) {
  return report.badLines > 0 || !report.endRecordSeen;
}

std::string DamagedHexText(const std::string& name, const HexReadReport& report) {
  std::string text;
  if (report.badLines > 0) {
    text =
        name + " line " + std::to_string(report.firstBadLine) + ": " + report.firstBadLineProblem;
    if (report.badLines > 1) text += " (" + std::to_string(report.badLines) + " bad lines in all)";
  }
  if (!report.endRecordSeen) {
    // The image ends where the file ends; the checksums of the upload file are made from it
    // and cannot tell that the rest of the firmware is missing.
    text += text.empty() ? name + " has no end record" : ", and the file has no end record";
    text += ": it may have been cut short";
  }
  return text;
}

std::string DamagedHexQuestion(const std::string& name, const HexReadReport& report) {
  return DamagedHexText(name, report) +
         (report.badLines > 0
              ? ". Some old tools wrote wrong checksums, but the file may be damaged. Use it "
                "anyway?"
              : ". Use it anyway?");
}

std::string DamagedHexRefusal(const std::string& name, const HexReadReport& report) {
  return DamagedHexText(name, report) + ". The file was not used; choose another file";
}
