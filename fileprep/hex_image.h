// Intel HEX text to the binary image file: first an image of erased flash (0xFF), then every
// data record written at its address. Used by the Software Upload of a HEX file and by the
// Factory upload's flash-code stage; the upload file is then written from the image.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sequencer/sequencer_state.h"

// Data addressed past the image's pages still go into the image file, which grows to hold
// them (the factory flash code has records above its 64 KB image), but only below 16 MB: a
// broken or crafted address must not make a file of gigabytes.
inline constexpr std::uint32_t kHexAddressLimit = 0x1000000;

// Creates S.BinFileName (replacing it), opens it as S.BinaryImage (read/write) and fills it
// with S.ImagePages * 128 bytes of 0xFF. The image is written under a temporary name and
// ReadHexImage renames it to its final name once the data are in, so that a failed conversion
// never leaves an image file that looks complete. On return the image is at its end.
void EmptyImage(SequencerState& S);

// Reads the whole Intel HEX source into S.BinaryImage (which stays open). Software upload
// (S.MainUploadMode): the text file S.InputFileName, opened read-only; Factory: the lines of
// `embeddedImage` from line 0 on, each passed to `logLine` (the capture log "[fsh]") before it
// is used when S.CaptureEnabled. Starts with EndRecordSeen false, ImageLineIndex 0 and both
// address bases 0; stops after the end-of-file record or at the end of the source. Lines of
// fewer than nine characters hold no record type and are skipped. On an error the image is
// closed and its temporary file removed, and the error goes on to the caller.
void ReadHexImage(SequencerState& S, const std::vector<std::string>& embeddedImage,
                  const std::function<void(const std::string& line)>& logLine);

// Writes the data bytes of one data record line into S.BinaryImage at its address: the
// extended linear base (S.ExtLinearAddress * 65536) plus the extended segment base
// (S.ExtSegmentAddress * 16) plus the line's offset, in 32-bit arithmetic. Up to 255 bytes.
// A field that is not hexadecimal text raises EConvertError "'%s' is not a valid integer
// value"; data at or past kHexAddressLimit raise EConvertError naming line and address.
void WriteHexData(SequencerState& S, const std::string& line);
