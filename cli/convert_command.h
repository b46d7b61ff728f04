// "kvuflash-cli convert FILE": makes the upload file from an Intel HEX file or a binary image
// exactly as a Software Upload would, without a unit attached, and reports its checksums and
// record count. An upload file given as FILE is checked and reported, not rewritten.
#pragma once

#include <iosfwd>
#include <string>

// Exit statuses, the same numbers as those of "upload".
inline constexpr int kConvertDone = 0;
inline constexpr int kConvertBadArguments = 2;  // no file name
inline constexpr int kConvertBadInput = 3;      // missing, unknown kind, malformed, unwritable

// What "kvuflash-cli convert --help" prints.
extern const char* const kConvertHelpText;

// Returns the exit status: 0 when the upload file is ready; 3 with the message on `err` for a
// file that cannot be read, converted or written, whose kind is not known, or that gives the
// unit nothing to write. An Intel HEX file with bad lines (wrong checksums, wrong lengths) or
// without its end record is refused unless `acceptBadChecksums`; then it is converted with a
// warning on `err`.
int RunConvert(const std::string& file, std::ostream& out, std::ostream& err,
               bool acceptBadChecksums = false);

// The upload file that a Software Upload of a chosen file sends, and what its trailer holds.
struct PreparedUpload {
  std::string uploadFile;  // the chosen .KVU itself, or the one converted beside the input
  int records = 0;
  std::string firmwareSum;  // four characters each, as the trailer holds them
  std::string fpgaSum;
};

// RunConvert that also says what it made: one conversion for the units of a production line,
// which are then all given the same upload file.
int PrepareUpload(const std::string& file, std::ostream& out, std::ostream& err,
                  PreparedUpload& prepared, bool acceptBadChecksums = false);
