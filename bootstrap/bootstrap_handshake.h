// The first part of a Factory Bootstrap Upload, at 19200 baud: the "Factory Bootstrap Upload"
// button, the instruction screen once the port is open, "&Proceed", the zero byte that the
// C161's own bootstrap loader answers with its identification byte, then Loader 1 (the 32
// bytes that loader takes) and Loader 2 (172 bytes, taken by Loader 1).
#pragma once

#include <string>
#include <vector>

#include "bootstrap/boot_image_transfer.h"
#include "sequencer/sequencer_core.h"
#include "sequencer/step_map.h"

inline constexpr int kBootstrapBaud = 19200;
inline constexpr int kFactoryHelpTopic = 9;
inline constexpr int kZeroByteResendTicks = 5;      // 0.3 s
inline constexpr int kIdentificationLastTick = 45;  // ten zero bytes; the 47th tick gives up
inline constexpr int kLoader1BudgetTicks = 10;      // 0.6 s
inline constexpr int kLoader2BudgetTicks = 100;     // 6 s
inline constexpr char kIdentificationBytes[] = {'\xB5', '\xD5'};
inline constexpr char kLoader1Answer = '"';
inline constexpr char kLoader2Answer = 'U';

class BootstrapHandshake final : public StepOwner {
 public:
  // The loaders as hex texts: Loader 1 in one text, Loader 2 in three sent back to back.
  BootstrapHandshake(SequencerCore& core, BootImageTransfer& transfer,
                     const std::vector<std::string>& loader1,
                     const std::vector<std::string>& loader2)
      : core_(core), transfer_(transfer), loader1_(loader1), loader2_(loader2) {}

  // Steps 541, 544, 545, 546, 548, 550 and 552.
  bool PerformStep(int step) override;

  // "Factory Bootstrap Upload": a fresh history, the factory screen, the port opening.
  void BtnBootClick();
  // "&Proceed": the unit is powered with its jumpers fitted; the zero byte goes out.
  void BtnGoOnClick();

  // The loaders and images carried are stand-ins, not the maker's: a run on a real serial
  // device is refused (a real chip would run them as random bytes); a simulated unit takes them.
  bool StandInFiles = false;

 private:
  void ShowInstructions();
  void RefuseStandIns();
  void WaitForIdentification();
  void SendLoader(const std::vector<std::string>& texts);
  // One tick of a loader's answer: `answer` anywhere in it is right; no answer at all ends
  // the run on the tick after the budget.
  void WaitForLoader(char answer, int budgetTicks, const char* done, const char* bad,
                     const char* timedOut, int nextStep);

  SequencerCore& core_;
  BootImageTransfer& transfer_;
  const std::vector<std::string>& loader1_;
  const std::vector<std::string>& loader2_;
};
