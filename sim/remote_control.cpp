#include "remote_control.h"

namespace rqsim {

namespace {
constexpr size_t kMaxFrame = 64;
}

RemoteControl::RemoteControl(std::string address, std::string version, RemoteFaults faults,
                             const Flash& flash, UnitIo& io)
    : address_(std::move(address)),
      version_(std::move(version)),
      faults_(std::move(faults)),
      flash_(flash),
      io_(io) {}

void RemoteControl::onBytes(std::string_view bytes) {
  for (char c : bytes) {
    if (c == '<') {  // a new frame begins, whatever came before it
      inFrame_ = true;
      buffer_.clear();
      continue;
    }
    if (!inFrame_) continue;
    if (c == '\r') {
      inFrame_ = false;
      onFrame(buffer_);
      continue;
    }
    buffer_.push_back(c);
    if (buffer_.size() > kMaxFrame) inFrame_ = false;
  }
}

std::string RemoteControl::fcsValue() const {
  FlashSums s = flash_.sums();
  auto field = [&](unsigned value, const char* name) {
    if (faults_.fcsWrong.count(name) != 0) value = (value + 1) & 0xFFFF;
    return hex4(value, faults_.fcsLowerCase);
  };
  return "Boot:" + field(s.boot, "boot") + " Main:" + field(s.main, "main") +
         " FPGA:" + field(s.fpga, "fpga");
}

void RemoteControl::onFrame(const std::string& frame) {
  // "AAAA/NAME?"
  size_t slash = frame.find('/');
  if (slash == std::string::npos || frame.empty() || frame.back() != '?') {
    io_.note("remote control: unreadable frame " + hexBytes(frame));
    return;
  }
  std::string address = frame.substr(0, slash);
  std::string name = frame.substr(slash + 1, frame.size() - slash - 2);
  if (address != address_) {
    io_.note("remote control: frame for address " + address + " ignored");
    return;
  }
  std::string value;
  if (name == "SWR") {
    ++stats_.swrQueries;
    if (stats_.swrQueries < faults_.swrAfter) {
      io_.note("remote control: SWR? number " + std::to_string(stats_.swrQueries) +
               " not answered (fault)");
      return;
    }
    ++stats_.swrAnswers;
    value = version_;
  } else if (name == "FCS") {
    ++stats_.fcsAnswers;
    value = fcsValue();
  } else {
    io_.note("remote control: unknown query " + name);
    return;
  }
  io_.note("remote control: " + name + "=" + value);
  io_.send(">" + address_ + "/" + name + "=" + value + "\r\n");
}

}  // namespace rqsim
