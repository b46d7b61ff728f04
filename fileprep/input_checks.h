// What makes a converted input unfit to send, in the user's words: an input that gives the
// unit nothing to write, and an Intel HEX file with lines that are not as the format has them
// or without its end record.
// The window's intake and the command line say the same things.
#pragma once

#include <cstdint>
#include <string>

#include "fileprep/binary_image.h"
#include "fileprep/hex_image.h"

// True when the first `pages` pages of `image` hold a byte other than erased flash (0xFF),
// that is when its upload file has at least one record.
bool ImageHoldsData(const ImageBytes& image, int pages);

// Why the Intel HEX file `name` gives the unit nothing to write, from what its reading found:
// an empty file, text with no record in it, records without data, or data of erased flash.
std::string NothingToSendFromHex(const std::string& name, const HexReadReport& report);

// Why the binary image `name` of `size` bytes gives the unit nothing to write.
std::string NothingToSendFromBinary(const std::string& name, std::uint64_t size);

// Whether an Intel HEX file that gives the unit data may still be damaged: it has lines that
// are not as the format has them, or it ends without its end record, as a download or copy
// that stopped at a line end does. Such a file is used only when the user says so.
bool HexLooksDamaged(const HexReadReport& report);

// "fw.hex line 12: the checksum is 3F where the line's bytes call for 40", and how many bad
// lines there are when there are more; "fw.hex has no end record: it may have been cut short";
// or both. Empty when the report found neither.
std::string DamagedHexText(const std::string& name, const HexReadReport& report);
// The question asked before such a file is used at all.
std::string DamagedHexQuestion(const std::string& name, const HexReadReport& report);
// What the user is told when the answer is No.
std::string DamagedHexRefusal(const std::string& name, const HexReadReport& report);
