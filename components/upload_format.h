// The layout of the upload file, shared by the code that makes it and the code that sends it:
// images of 128-byte pages, one 135-byte record for each page that holds data, and an 8-byte
// checksum trailer behind the last record.
#pragma once

inline constexpr int kPageSize = 128;              // bytes of one image page
inline constexpr int kRecordSize = 135;            // six address digits, a page, a checksum
inline constexpr int kAddressSize = 6;             // record bytes 0 to 5: the page address as text
inline constexpr int kTrailerSize = 8;             // Firmware and FPGA checksums, 4 digits each
inline constexpr int kSoftwareImagePages = 32768;  // 4 MB
inline constexpr int kFactoryImagePages = 512;     // 64 KB
inline constexpr long kUnitFlashBytes = 4L * 1024 * 1024;  // all the flash a unit has
