// Sending the upload records during the flash-loader dialogue, and the small routines that
// turn a run's figures into text: the duration estimate, the time taken, the file's checksums.
#pragma once

#include <cstdint>
#include <string>

#include "components/hex_text.h"
#include "sequencer/sequencer_core.h"

class RecordSender {
 public:
  explicit RecordSender(SequencerCore& core) : core_(core) {}

  // A record goes out in one write instead of one per byte: the same bytes at the line's
  // speed, for a hundredth of the system calls. Records on request turn it on; the window
  // keeps the byte-by-byte writes.
  bool OneWritePerRecord = false;

  // Reads the next record of UploadFile, sends it, counts it and shows progress.
  void SendRecord();
  // Sends RecordBuffer unchanged.
  void ResendRecord();
  // Whether the record last sent can still have been on its way to the unit at time of day
  // `at` (or earlier: before it went): its bytes take 10 bit times each at the port's speed,
  // and the unit answers a record only once it has it whole.
  bool RecordStillOnTheLine(double at) const;
  // The three capture lines that describe RecordBuffer.
  void DumpRecord();
  // Reads the 8-byte trailer into FileFirmwareChecksum and FileFpgaChecksum, as the fields
  // stand (the check before "GO" has refused a trailer that holds no checksums).
  void ReadFileChecksums();

 private:
  SequencerCore& core_;
};

// " less than 1 minute", " about 1 minute", " about 3.5 minutes" for `blockCount` records
// at `baudrate`.
std::string UploadEstimate(int blockCount, int baudrate);
// Minutes and seconds from `startTime` to `endTime` (fractions of a day): "03:25 minutes",
// "25 seconds", "7 seconds"; "unavailable" when the end is not after the start.
std::string TimeTakenText(double startTime, double endTime);
// The same, from the difference already rendered as a time of day in the locale's long time
// format ("0:03:25", "12:03:25 AM"); `difference` (a fraction of a day) stands in when the
// rendering is not hours, minutes and seconds separated by colons.
std::string TimeTakenFromLongTime(const std::string& longTime, double difference);
