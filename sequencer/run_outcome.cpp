#include "sequencer/run_outcome.h"

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::None:
      return "not ended";
    case RunOutcome::Completed:
      return "completed";
    case RunOutcome::CompletedWithEraseErrors:
      return "completed, but the unit reported erase errors";
    case RunOutcome::ChecksumsMatch:
      return "completed, checksums match";
    case RunOutcome::ChecksumsDifferent:
      return "checksums different";
    case RunOutcome::HaltedByUnit:
      return "halted by the unit";
    case RunOutcome::TimedOut:
      return "timed out";
    case RunOutcome::RecordRefused:
      return "a record refused again and again";
    case RunOutcome::UnexpectedAnswer:
      return "unexpected answer";
    case RunOutcome::PortFailure:
      return "port failure";
    case RunOutcome::InputOutputError:
      return "input/output error";
    case RunOutcome::BadInput:
      return "bad input";
    case RunOutcome::RefusedBeforeSending:
      return "refused before sending";
    case RunOutcome::NoIdentification:
      return "no identification byte";
    case RunOutcome::WrongIdentification:
      return "wrong identification byte";
    case RunOutcome::LoaderSilent:
      return "loader did not answer";
    case RunOutcome::LoaderBadAnswer:
      return "loader answered wrongly";
    case RunOutcome::BadEchoes:
      return "bootstrap line answered wrongly five times";
    case RunOutcome::BootLineTimedOut:
      return "bootstrap line not answered";
  }
  return "unknown";
}
