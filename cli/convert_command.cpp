#include "cli/convert_command.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>

#include "components/byte_file.h"
#include "components/file_errors.h"
#include "fileprep/binary_image.h"
#include "fileprep/file_names.h"
#include "fileprep/hex_image.h"
#include "fileprep/input_checks.h"
#include "fileprep/upload_file_writer.h"

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
    "                    before anything is written\n"
    "\n"
    "Exit status:\n"
    "  0  the upload file is ready\n"
    "  1, 2  bad arguments\n"
    "  3  bad input: file missing, unknown extension, malformed HEX, nothing to send,\n"
    "     bad .KVU size, or the converted file cannot be written\n";

namespace {

bool IsIntelHex(const std::string& extension) {
  return extension == "MCS" || extension == "H86" || extension == "HEX";
}

// The trailer of an upload file (its two checksums); false when the file is not whole records
// followed by the trailer.
bool ReadTrailer(const std::string& path, std::uint64_t& size, PreparedUpload& prepared) {
  ByteFile file;
  file.Open(path, ByteFile::Mode::Read);
  size = file.Size();
  if (size < static_cast<std::uint64_t>(kTrailerSize) || size % kRecordSize != kTrailerSize) {
    return false;
  }
  char trailer[kTrailerSize];
  file.Seek(size - kTrailerSize);
  if (file.Read(trailer, kTrailerSize) != kTrailerSize) return false;
  prepared.uploadFile = path;
  prepared.records = BlockCountOfSize(size);
  prepared.firmwareSum.assign(trailer, 4);
  prepared.fpgaSum.assign(trailer + 4, 4);
  return true;
}

std::string FileNameOf(const std::string& path) {
  return fs::path(path).filename().string();
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
    if (parts.Extension == "KVU") {
      std::uint64_t size = 0;
      if (!NamingFile(file, [&] { return ReadTrailer(file, size, prepared); })) {
        err << "The upload file " << file << " is not a complete upload file: its " << size
            << " bytes are not whole " << kRecordSize << "-byte records followed by the "
            << kTrailerSize << "-byte checksum trailer\n";
        return kConvertBadInput;
      }
      // The words of the ready screen's refusal.
      if (prepared.records == 0) {
        err << "The upload file " << file << " holds no records, only its checksum trailer: "
            << "there is nothing to send to the unit. Choose another file\n";
        return kConvertBadInput;
      }
      out << "Upload file " << file << " is sent as it is, chksums: " << prepared.firmwareSum
          << ", " << prepared.fpgaSum << '\n';
      out << "Records: " << prepared.records << '\n';
      return kConvertDone;
    }
    const bool hex = IsIntelHex(parts.Extension);
    if (!hex && parts.Extension != "BIN") {
      err << "Unexpected file extension (" << parts.Extension << "), choose another file\n";
      return kConvertBadInput;
    }

    const std::string binName = ResolveExistingName(parts.BaseName + ".BIN");
    const std::string uploadName = ResolveExistingName(parts.BaseName + ".KVU");
    ImageBytes image;
    if (hex) {
      out << "Emptying binary file:  " << FileNameOf(binName) << " ...\n";
      image = EmptyImage(kSoftwareImagePages);
      out << "Processing .H86 input file to .BIN binary file ...\n";
      const HexReadReport report = NamingFile(file, [&] {
        return ReadIntelHexFile(file, image, kSoftwareImagePages * std::uint32_t{kPageSize});
      });
      if (!ImageHoldsData(image, kSoftwareImagePages)) {
        err << NothingToSendFromHex(file, report) << '\n';
        return kConvertBadInput;
      }
      if (HexLooksDamaged(report) && !acceptBadChecksums) {
        err << DamagedHexRefusal(file, report)
            << " (--accept-bad-checksums converts it all the same)\n";
        return kConvertBadInput;
      }
      if (HexLooksDamaged(report)) {
        err << DamagedHexText(file, report)
            << ". Converted all the same (--accept-bad-checksums)\n";
      }
      NamingFile(binName, [&] { WriteWholeFile(binName, image); });
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
    NamingFile(uploadName, [&] { WriteWholeFile(uploadName, content.bytes); });
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
