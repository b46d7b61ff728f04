#include "cli/exit_status.h"

#include <algorithm>

int ExitStatusOf(RunOutcome outcome) {
  struct Row {
    RunOutcome outcome;
    int status;
  };
  static constexpr Row kTable[] = {
      {RunOutcome::Completed, kUploadOk},
      {RunOutcome::CompletedWithEraseErrors, kUploadEraseErrors},
      {RunOutcome::RecordRefused, kUploadRecordRefused},
      {RunOutcome::ChecksumsMatch, kUploadOk},
      {RunOutcome::ChecksumsDifferent, kUploadChecksumsDiffer},
      {RunOutcome::HaltedByUnit, kUploadHalted},
      {RunOutcome::TimedOut, kUploadTimedOut},
      {RunOutcome::UnexpectedAnswer, kUploadUnexpected},
      {RunOutcome::PortFailure, kUploadPortFailed},
      {RunOutcome::InputOutputError, kUploadError},
      {RunOutcome::BadInput, kUploadBadInput},
      {RunOutcome::RefusedBeforeSending, kUploadBadInput},
      {RunOutcome::NoIdentification, kFactoryNoIdentification},
      {RunOutcome::WrongIdentification, kFactoryWrongIdentification},
      {RunOutcome::LoaderSilent, kFactoryLoaderSilent},
      {RunOutcome::LoaderBadAnswer, kFactoryLoaderBadAnswer},
      {RunOutcome::BadEchoes, kFactoryBadEchoes},
      {RunOutcome::BootLineTimedOut, kFactoryLineTimedOut},
  };
  for (const Row& row : kTable) {
    if (row.outcome == outcome) return row.status;
  }
  return kUploadError;  // a run that did not end is no success
}

int Worse(int a, int b) {
  static constexpr int kWorstFirst[] = {
      kUploadInterrupted, kUploadError,         kUploadPortFailed, kUploadChecksumsDiffer,
      kUploadHalted,      kUploadRecordRefused, kUploadUnexpected, kUploadTimedOut,
      kUploadEraseErrors, kUploadBadInput,      kUploadUsage};
  for (int status : kWorstFirst) {
    if (a == status || b == status) return status;
  }
  return std::max(a, b);
}
