#include "cli/verify_command.h"

#include <sstream>
#include <stdexcept>
#include <utility>

#include "fileprep/binary_image.h"
#include "fileprep/conversion_road.h"
#include "fileprep/file_names.h"
#include "fileprep/hex_image.h"
#include "fileprep/input_checks.h"
#include "fileprep/upload_file_writer.h"

const char* const kVerifyHelpText =
    "Usage: kvuflash-cli verify [--port N|DEVICE]... [--json FILE] [--dir FOLDER]\n"
    "                           [--timeout SECONDS] FILE\n"
    "\n"
    "Asks the running unit over its remote control (9600 baud, \"SWR?\" until it answers,\n"
    "then \"FCS?\") for its memory checksums and compares them with those of FILE (a .KVU,\n"
    "or an Intel HEX file or binary image converted in memory; nothing is written). Run it\n"
    "after an upload of fewer than 1000 records, which the upload does not check, once the\n"
    "unit has been switched off and on. Several ports ask one unit each; --json and the\n"
    "table are as for upload. Default --timeout: 60 seconds.\n"
    "\n"
    "Exit status: 0 the checksums match, 7 they differ, 5 the unit did not answer, 2 bad\n"
    "arguments, 3 FILE cannot be used, 4 the port could not be opened, 9 interrupted.\n";

const char* const kInfoHelpText =
    "Usage: kvuflash-cli info [--port N|DEVICE]... [--json FILE] [--dir FOLDER]\n"
    "                         [--timeout SECONDS]\n"
    "\n"
    "Asks the running unit over its remote control for its software (\"SWR?\") and memory\n"
    "checksums (\"FCS?\") and prints them. Exit status: 0 answered, 5 the unit did not\n"
    "answer, 4 the port could not be opened, 9 interrupted.\n";

PreparedUpload FileSumsInMemory(const std::string& file) {
  RequireOrdinaryFile(file);
  const std::string extension = SplitChosenName(file).Extension;
  PreparedUpload sums;
  const InputKind kind = InputKindOf(extension);
  if (kind == InputKind::UploadFile) {
    // An upload file is checked and read as it is, and nothing is written.
    std::ostringstream said;
    std::ostringstream failed;
    if (PrepareUpload(file, said, failed, sums) != kConvertDone) {
      std::string why = failed.str();
      while (!why.empty() && why.back() == '\n') why.pop_back();
      throw std::runtime_error(why);
    }
    return sums;
  }
  ImageBytes image;
  if (kind == InputKind::IntelHex) {
    HexImage hex = HexFileToImage(file, kSoftwareImagePages);
    if (HexLooksDamaged(hex.report)) throw std::runtime_error(DamagedHexRefusal(file, hex.report));
    image = std::move(hex.image);
  } else if (kind == InputKind::BinaryImage) {
    image = NamingFile(file, [&] { return ReadBinaryImage(file, kSoftwareImagePages); });
  } else {
    throw std::runtime_error("Unexpected file extension (" + extension + "), choose another file");
  }
  const UploadFileContent content = MakeUploadFile(image, kSoftwareImagePages);
  sums.records = content.blockCount;
  sums.firmwareSum = content.firmwareSum;
  sums.fpgaSum = content.fpgaSum;
  return sums;
}
