// The rebooted unit's remote control: addressed frames "<AAAA/NAME?" + CR answered with
// ">AAAA/NAME=value" + CR + LF, for SWR? (software version) and FCS? (flash checksums).
#pragma once

#include <string>

#include "flash.h"
#include "options.h"
#include "sim_common.h"

namespace rqsim {

struct RemoteStats {
  long swrQueries = 0;
  long swrAnswers = 0;
  long fcsAnswers = 0;
};

class RemoteControl {
 public:
  RemoteControl(std::string address, std::string version, RemoteFaults faults, const Flash& flash,
                UnitIo& io);

  void onBytes(std::string_view bytes);
  const RemoteStats& stats() const { return stats_; }

 private:
  void onFrame(const std::string& frame);
  std::string fcsValue() const;

  std::string address_;
  std::string version_;
  RemoteFaults faults_;
  const Flash& flash_;
  UnitIo& io_;
  std::string buffer_;
  bool inFrame_ = false;
  RemoteStats stats_;
};

}  // namespace rqsim
