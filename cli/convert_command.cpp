#include "cli/convert_command.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "components/file_errors.h"
#include "components/upload_file.h"
#include "fileprep/conversion_road.h"
#include "fileprep/file_names.h"
#include "fileprep/input_checks.h"

namespace fs = std::filesystem;

const char* const kConvertHelpText =
    "Usage: kvuflash-cli convert [--accept-bad-checksums] FILE\n"
    "\n"
    "Makes the upload file (.KVU) from FILE, an Intel HEX file (.hex, .h86, .mcs) or a\n"
    "binary image (.bin), beside it, as a Software Upload would, and prints its checksums\n"
    "and record count. A .KVU given as FILE is checked and reported, not rewritten.\n"
    "\n"
    "  --accept-bad-checksums\n"
    "                    use an Intel HEX file whose lines have wrong checksums or lengths\n"
    "                    (some old tools wrote wrong checksums), or that has no end record\n"
    "                    (it may have been cut short); without it such a file is refused\n"
    "                    before anything is written; and a .KVU whose checksum trailer\n"
    "                    disagrees with its records\n"
    "\n"
    "Exit status:\n"
    "  0  the upload file is ready\n"
    "  1, 2  bad arguments\n"
    "  3  bad input: file missing, unknown extension, malformed HEX, nothing to send,\n"
    "     bad .KVU size, or the converted file cannot be written\n";

namespace {

std::string FileNameOf(const std::string& path) {
  return fs::path(path).filename().string();
}

// A chosen upload file, checked whole as the window checks it before "GO".
int ReportUploadFile(const std::string& file, std::ostream& out, std::ostream& err,
                     PreparedUpload& prepared, bool acceptBadChecksums) {
  HeldUploadFile held;
  NamingFile(file, [&] { held.Load(file); });
  const UploadFileCheck check = CheckUploadFile(held, file);
  if (check.fault == UploadFileFault::SumsDisagree && acceptBadChecksums) {
    err << check.problem << ". Used all the same (--accept-bad-checksums)\n";
  } else if (check.fault == UploadFileFault::SumsDisagree) {
    err << check.problem << ". Make the upload file again or choose another "
        << "(--accept-bad-checksums sends it all the same)\n";
    return kConvertBadInput;
  } else if (check.fault != UploadFileFault::None) {
    err << check.problem << '\n';
    return kConvertBadInput;
  }
  prepared.uploadFile = file;
  prepared.records = check.records;
  prepared.firmwareSum = check.trailer.firmwareSum;
  prepared.fpgaSum = check.trailer.fpgaSum;
  out << "Upload file " << file << " is sent as it is, chksums: " << prepared.firmwareSum << ", "
      << prepared.fpgaSum << '\n';
  out << "Records: " << prepared.records << '\n';
  return kConvertDone;
}

// Writes a derived file, saying so when an earlier one was kept.
void WriteDerived(const std::string& path, const std::vector<std::uint8_t>& bytes,
                  std::ostream& out) {
  const std::string copy = WriteDerivedFile(path, bytes);
  if (!copy.empty()) out << KeptCopyText(path, copy) << '\n';
}

// The image of an Intel HEX file, its .BIN written beside it; false (said on `err`) when it
// gives nothing to send or is damaged and not accepted.
bool ConvertHex(const std::string& file, const std::string& binName, ImageBytes& image,
                std::ostream& out, std::ostream& err, bool acceptBadChecksums) {
  out << "Emptying binary file:  " << FileNameOf(binName) << " ...\n";
  out << "Processing .H86 input file to .BIN binary file ...\n";
  HexImage read = HexFileToImage(file, kSoftwareImagePages);
  if (!ImageHoldsData(read.image, kSoftwareImagePages)) {
    err << NothingToSendFromHex(file, read.report) << '\n';
    return false;
  }
  if (HexLooksDamaged(read.report) && !acceptBadChecksums) {
    err << DamagedHexRefusal(file, read.report)
        << " (--accept-bad-checksums converts it all the same)\n";
    return false;
  }
  if (HexLooksDamaged(read.report)) {
    err << DamagedHexText(file, read.report)
        << ". Converted all the same (--accept-bad-checksums)\n";
  }
  WriteDerived(binName, read.image, out);
  image = std::move(read.image);
  return true;
}

}  // namespace

int RunConvert(const std::string& file, std::ostream& out, std::ostream& err,
               bool acceptBadChecksums) {
  PreparedUpload prepared;
  return PrepareUpload(file, out, err, prepared, acceptBadChecksums);
}

int PrepareUpload(const std::string& file, std::ostream& out, std::ostream& err,
                  PreparedUpload& prepared, bool acceptBadChecksums) {
  if (file.empty()) {
    err << "No input file given\n";
    return kConvertBadArguments;
  }
  try {
    const fs::path folder = fs::path(file).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec))
      throw EInOutError(file + ": Path not found", 3);
    RequireOrdinaryFile(file);

    // The names a Software Upload gives the files made from this one, beside it.
    const InputNameParts parts = SplitChosenName(file);
    const InputKind kind = InputKindOf(parts.Extension);
    if (kind == InputKind::UploadFile)
      return ReportUploadFile(file, out, err, prepared, acceptBadChecksums);
    if (kind == InputKind::Other) {
      err << "Unexpected file extension (" << parts.Extension << "), choose another file\n";
      return kConvertBadInput;
    }

    const std::string binName = ResolveExistingName(parts.BaseName + ".BIN");
    const std::string uploadName = ResolveExistingName(parts.BaseName + ".KVU");
    ImageBytes image;
    if (kind == InputKind::IntelHex) {
      if (!ConvertHex(file, binName, image, out, err, acceptBadChecksums)) return kConvertBadInput;
      out << "Processing .BIN file to .KVU format ...\n";
    } else {
      RequireOrdinaryFile(binName);
      image = NamingFile(binName, [&] { return ReadBinaryImage(binName, kSoftwareImagePages); });
      out << "Converting .BIN file to .KVU format ...\n";
    }
    const UploadFileContent content = MakeUploadFile(image, kSoftwareImagePages);
    if (content.blockCount == 0) {
      std::error_code sizeError;
      err << NothingToSendFromBinary(binName, fs::file_size(binName, sizeError)) << '\n';
      return kConvertBadInput;
    }
    WriteDerived(uploadName, content.bytes, out);
    prepared.uploadFile = uploadName;
    prepared.records = content.blockCount;
    prepared.firmwareSum = content.firmwareSum;
    prepared.fpgaSum = content.fpgaSum;
    out << "Data file conversion complete, chksums: " << ChecksumText(content, true) << '\n';
    out << "Upload file: " << uploadName << '\n';
    out << "Records: " << content.blockCount << '\n';
    return kConvertDone;
  } catch (const EInOutError& e) {
    err << e.what() << '\n';  // names its file
    return kConvertBadInput;
  } catch (const EConvertError& e) {
    err << e.what() << '\n';
    return kConvertBadInput;
  } catch (const std::exception& e) {
    err << file << ": " << e.what() << '\n';
    return kConvertBadInput;
  }
}
