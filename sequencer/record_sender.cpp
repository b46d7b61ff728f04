#include "sequencer/record_sender.h"
// TODO(owner): record transfer
void RecordSender::SendRecord() {}
void RecordSender::ResendRecord() {}
void RecordSender::DumpRecord() {}
void RecordSender::ReadFileChecksums() {}
std::string UploadEstimate(int, int) { return {}; }
std::string TimeTakenText(double, double) { return {}; }
bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
