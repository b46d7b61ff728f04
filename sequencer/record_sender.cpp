#include "sequencer/record_sender.h"

#include <cmath>
#include <cstdio>

#include "components/clock.h"
#include "components/upload_file.h"

namespace {

constexpr int kFirstHalfEnd = 70;  // data bytes 6 to 69, then 70 to 133

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Two significant digits in the general number format, no trailing zeros: 1.5, 2, 3.5, 14.
// Beyond two digits before the point the value is rounded to a plain whole number (120)
// rather than written with an exponent.
std::string TwoSignificantDigits(double value) {
  char text[32];
  if (value < 100) {
    std::snprintf(text, sizeof text, "%.2g", value);
  } else {
    const double scale = std::pow(10.0, std::floor(std::log10(value)) - 1);
    std::snprintf(text, sizeof text, "%.0f", std::nearbyint(value / scale) * scale);
  }
  return text;
}

double EstimateFactor(int baudrate) {
  switch (baudrate) {
    case 1200:
      return 10;
    case 2400:
      return 5;
    case 4800:
      return 3;
    case 9600:
      return 2;
    case 19200:
      return 1.5;
    case 38400:
      return 1.1;
    case 57600:
      return 1;
    default:
      return 3;
  }
}

}  // namespace

void RecordSender::SendRecord() {
  SequencerState& s = core_.S;
  // Read from the copy held in memory since the run started; the dialogue refused a file that
  // is not whole records plus the trailer before anything was sent.
  s.UploadFile.Read(s.RecordBuffer.data(), s.RecordBuffer.size());
  ResendRecord();
  ++s.BlocksSent;
  core_.RecordsProgressed();
  core_.W.Gauge().SetProgress(s.BlocksSent);
  const std::string text = "Sending block " + std::to_string(s.BlocksSent) + " of " +
                           std::to_string(s.BlockCount) + "...";
  core_.W.HistReplaceLast(text);
  core_.W.SetCaption(Ctl::Label2, text);
}

void RecordSender::ResendRecord() {
  SequencerState& s = core_.S;
  // The answer to this record must not be confused with anything received before it.
  s.ReplyText.clear();
  if (s.CaptureEnabled) DumpRecord();
  if (OneWritePerRecord) {
    core_.Serial1.WriteString(std::string(s.RecordBuffer.begin(), s.RecordBuffer.end()));
  } else {
    for (std::uint8_t b : s.RecordBuffer) core_.SendByte(b);
  }
  s.RecordSentAt = core_.Clock.TimeOfDay();
}

bool RecordSender::RecordStillOnTheLine(double at) const {
  constexpr double kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
  const int baud = core_.Serial1.Baudrate();
  if (baud <= 0) return false;
  double elapsed = at - core_.S.RecordSentAt;
  if (elapsed < -0.5) elapsed += 1;  // midnight came in between
  return elapsed * 86400.0 < kRecordSize * kBitsPerByte / baud;
}

void RecordSender::DumpRecord() {
  const auto& r = core_.S.RecordBuffer;
  const std::string address(reinterpret_cast<const char*>(r.data()), kAddressSize);
  core_.Log("  addr " + address + "  cksm " + HexText(&r[kChecksumOffset], 1), "[info  ]");
  core_.Log(HexText(&r[kAddressSize], kFirstHalfEnd - kAddressSize), "[B0-128]");
  core_.Log(HexText(&r[kFirstHalfEnd], kChecksumOffset - kFirstHalfEnd), "[B128+ ]");
}

void RecordSender::ReadFileChecksums() {
  SequencerState& s = core_.S;
  s.UploadFile.Read(s.RecordBuffer.data(), kTrailerSize);
  const UploadTrailer trailer = ReadTrailer(s.RecordBuffer.data());
  s.FileFirmwareChecksum = trailer.firmwareSum;
  s.FileFpgaChecksum = trailer.fpgaSum;
}

std::string UploadEstimate(int blockCount, int baudrate) {
  const double factor = EstimateFactor(baudrate);
  // Rounded to the nearest integer, ties to the even neighbour.
  const double n = std::nearbyint(blockCount * factor / 479 * 2);
  const double minutes = n / 4;  // the estimate moves in quarter minutes
  if (minutes < 0.8) return " less than 1 minute";
  if (minutes >= 1.5) return " about " + TwoSignificantDigits(minutes) + " minutes";
  return " about 1 minute";
}

std::string TimeTakenFromLongTime(const std::string& longTime, double difference) {
  const auto colon = longTime.find(':');
  std::string t = colon == std::string::npos ? std::string() : longTime.substr(colon + 1, 15);
  const auto am = t.find(" AM");
  if (am != std::string::npos) t.erase(am, 3);
  // Minutes and seconds only: a locale may put its own day-half marker ("PM", "p.m.") or none
  // at all behind them, or separate the fields with something other than colons.
  if (t.size() >= 5 && IsDigit(t[0]) && IsDigit(t[1]) && t[2] == ':' && IsDigit(t[3]) &&
      IsDigit(t[4])) {
    t.resize(5);
  } else {
    const long total = std::lround((difference - std::floor(difference)) * 86400.0) % 86400;
    char text[8];
    std::snprintf(text, sizeof text, "%02ld:%02ld", (total / 60) % 60, total % 60);
    t = text;
  }
  if (t.compare(0, 2, "00") != 0) return t + " minutes";
  if (t[3] == '0') return std::string(1, t[4]) + " seconds";
  return t.substr(3, 2) + " seconds";
}

std::string TimeTakenText(double startTime, double endTime) {
  // A run that crossed midnight ends "before" it started.
  if (endTime <= startTime) return "unavailable";
  const double difference = endTime - startTime;
  return TimeTakenFromLongTime(LongTimeText(difference), difference);
}
