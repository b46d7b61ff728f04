// The upload file (.KVU): one 135-byte record (six hex digits of the page address, the 128
// bytes of the page, a checksum byte) for every page of the image that holds anything but
// erased flash, then an 8-byte trailer with the Firmware and FPGA checksums of the image.
#pragma once

#include <array>
#include <cstdint>

#include "sequencer/sequencer_state.h"

// The sum of record bytes 0 to 133, modulo 256: the record's byte 134.
std::uint8_t RecordChecksum(const std::array<std::uint8_t, kRecordSize>& record);

// S.BinaryImage open for reading; S.UploadFile open for writing (created with
// ByteFile::Mode::CreateTemp by the caller). Writes the records and the trailer, sets
// BlockCount and LastReply ("FFFF, FFFF": Firmware and FPGA sums; a Factory upload: the boot
// sum alone), closes BinaryImage and commits UploadFile (renamed to its final name only when
// whole). Bytes missing from an image shorter than S.ImagePages pages count as erased flash.
// On an error both files are closed, the temporary upload file is removed, BlockCount is 0
// and the error goes on to the caller; an older upload file of the final name is untouched.
void WriteUploadFile(SequencerState& S);

// BlockCount of an existing upload file of `size` bytes (size / 135; the trailer drops out).
int BlockCountOfSize(std::uint64_t size);
