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
#include "fileprep/upload_file_writer.h"

namespace fs = std::filesystem;

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

int RunConvert(const std::string& file, std::ostream& out, std::ostream& err) {
  PreparedUpload prepared;
  return PrepareUpload(file, out, err, prepared);
}

int PrepareUpload(const std::string& file, std::ostream& out, std::ostream& err,
                  PreparedUpload& prepared) {
  if (file.empty()) {
    err << "No input file given\n";
    return kConvertBadArguments;
  }
  try {
    const fs::path folder = fs::path(file).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec)) throw EInOutError("Path not found", 3);
    if (!FileExists(file)) throw EInOutError("File not found", 2);

    // The names a Software Upload gives the files made from this one, beside it.
    const InputNameParts parts = SplitChosenName(file);
    if (parts.Extension == "KVU") {
      std::uint64_t size = 0;
      if (!ReadTrailer(file, size, prepared)) {
        err << "The upload file " << file << " is not a complete upload file: its " << size
            << " bytes are not whole " << kRecordSize << "-byte records followed by the "
            << kTrailerSize << "-byte checksum trailer\n";
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
      ReadIntelHexFile(file, image);
      WriteWholeFile(binName, image);
      out << "Processing .BIN file to .KVU format ...\n";
    } else {
      image = ReadBinaryImage(binName, kSoftwareImagePages);
      out << "Converting .BIN file to .KVU format ...\n";
    }
    const UploadFileContent content = MakeUploadFile(image, kSoftwareImagePages);
    WriteWholeFile(uploadName, content.bytes);
    prepared.uploadFile = uploadName;
    prepared.records = content.blockCount;
    prepared.firmwareSum = content.firmwareSum;
    prepared.fpgaSum = content.fpgaSum;
    out << "Data file conversion complete, chksums: " << ChecksumText(content, true) << '\n';
    out << "Upload file: " << uploadName << '\n';
    out << "Records: " << content.blockCount << '\n';
    return kConvertDone;
  } catch (const std::exception& e) {
    // The runtime's message alone ("File not found") does not say which file.
    err << file << ": " << e.what() << '\n';
    return kConvertBadInput;
  }
}
