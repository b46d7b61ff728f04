// The one road from a chosen file to the upload file, for the window's intake, the command
// line and the factory's flash code: the converter chosen by extension, Intel HEX to an image,
// the image to the .BIN beside the input, the image to the .KVU. Each piece is a function of
// its inputs; the callers show what happens between them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fileprep/binary_image.h"
#include "fileprep/hex_image.h"
#include "fileprep/upload_file_writer.h"

enum class InputKind { IntelHex, BinaryImage, UploadFile, Other };

// By the extension as SplitChosenName gives it: HEX, H86 and MCS are Intel HEX.
InputKind InputKindOf(const std::string& extension);
inline bool IsIntelHex(const std::string& extension) {
  return InputKindOf(extension) == InputKind::IntelHex;
}

struct HexImage {
  ImageBytes image;
  HexReadReport report;
};
// The Intel HEX file `path` as an image of `pages` pages; data at or past them are refused
// (a Software Upload's image is the unit's whole flash). Errors name the file.
HexImage HexFileToImage(const std::string& path, int pages);
// Lines the program carries, which may place data above the image's pages (the factory's flash
// code does); `onLine` (may be empty) sees each line before it is used.
HexImage HexLinesToImage(const std::vector<std::string>& lines, int pages,
                         const std::function<void(const std::string& line)>& onLine);

// Writes a file derived from the input (its .BIN or .KVU) whole or not at all, errors naming it.
// An existing file of that name that holds something else, which the user may still want, is
// kept first as NAME.EXT~ (one earlier copy); the name of that copy, or empty when none was
// needed.
std::string WriteDerivedFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
// What the history and the terminal say of such a copy.
std::string KeptCopyText(const std::string& path, const std::string& copy);
