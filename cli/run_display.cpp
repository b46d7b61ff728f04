#include "cli/run_display.h"

#include <ostream>

#include "cli/command_support.h"
#include "sequencer/ticks.h"

namespace {

constexpr int kOneBarWidth = 30;
constexpr int kUnitBarWidth = 20;
constexpr std::size_t kLabelWidth = 14;
constexpr std::size_t kScreenWidth = 79;  // a unit's line must not wrap, or the redraw drifts
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

int Percent(int sent, int total) {
  return total > 0 ? sent * 100 / total : 100;
}

std::string PhaseText(RunPhase phase) {
  switch (phase) {
    case RunPhase::Idle:
    case RunPhase::OpeningPort:
      return "opening the port";
    case RunPhase::ChoosingFile:
    case RunPhase::Preparing:
    case RunPhase::Ready:
      return "taking the file";
    case RunPhase::Handshake:
      return "waiting for READY: power the unit up";
    case RunPhase::Erase:
      return "erasing";
    case RunPhase::Records:
      return "records";
    case RunPhase::Finishing:
      return "UPLOAD DONE sent, waiting for THANK YOU";
    case RunPhase::Reboot:
      return "the unit reboots";
    case RunPhase::Checksums:
      return "asking the unit for its checksums";
    case RunPhase::FactoryReady:
    case RunPhase::ChipHandshake:
    case RunPhase::BootLines:
    case RunPhase::FlashCodePreparing:
      return "factory bootstrap";
    case RunPhase::Ended:
      return "ended";
  }
  return "";
}

// The port as given, its end kept when it is long.
std::string Label(const std::string& given) {
  if (given.size() <= kLabelWidth) return given;
  return ".." + given.substr(given.size() - (kLabelWidth - 2));
}

}  // namespace

RunDisplay::RunDisplay(std::ostream& out, std::ostream& err, bool terminal,
                       std::vector<std::string> ports)
    : out_(out), err_(err), terminal_(terminal), units_(ports.empty() ? 1 : ports.size()) {
  for (std::size_t i = 0; i < ports.size(); ++i) units_[i].port = ports[i];
}

void RunDisplay::Line(std::size_t unit, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (terminal_ && Several()) return;  // each unit's line under the messages says enough
  Print(out_, Prefix(units_[unit]) + text);
}

void RunDisplay::Message(std::size_t unit, const std::string& text, bool good) {
  std::lock_guard lock(mutex_);
  Print(good ? out_ : err_, Prefix(units_[unit]) + text);
}

void RunDisplay::Print(std::ostream& stream, const std::string& line) {
  Clear();
  out_.flush();
  stream << line << std::endl;
  Draw();
}

void RunDisplay::Progress(std::size_t unit, const RunProgress& p) {
  std::lock_guard lock(mutex_);
  Unit& u = units_[unit];
  u.phase = p.phase;
  if (p.phase == RunPhase::BootLines && p.linesSent > 0) {
    Count(u, p.linesSent, p.linesTotal, "bootstrap lines");
  } else if (p.phase == RunPhase::Records && p.recordsSent > 0) {
    Count(u, p.recordsSent, p.recordsTotal, "records");
  } else if (terminal_ && Several()) {
    Clear();
    Draw();
  }
}

void RunDisplay::Count(Unit& u, int sent, int total, const char* what) {
  if (u.what != what || sent == 1 || u.sent == 0) {
    if (!Several() && barShown_) out_ << std::endl;
    barShown_ = false;
    u.what = what;
    u.first = Clock::now();
    u.lastTenth = -1;
  }
  u.sent = sent;
  u.total = total;
  if (!terminal_) {
    const int tenth = total > 0 ? sent * 10 / total : 10;
    if (sent != 1 && sent != total && tenth == u.lastTenth) return;
    u.lastTenth = tenth;
    out_ << Prefix(u) << u.what << ' ' << sent << '/' << total << " (" << Percent(sent, total)
         << "%, " << Bar(u, 0) << " left)" << std::endl;
    return;
  }
  if (Several()) {
    if (sent < total && Clock::now() - lastDraw_ < kRedrawInterval) return;
    Clear();
    Draw();
    return;
  }
  out_ << '\r' << StatusLine(u) << "\033[K" << std::flush;
  barShown_ = true;
  if (sent >= total) {
    out_ << std::endl;
    barShown_ = false;
  }
}

void RunDisplay::Ended(std::size_t unit, const std::string& summary) {
  std::lock_guard lock(mutex_);
  units_[unit].ended = true;
  units_[unit].summary = summary;
  if (terminal_ && Several()) {
    Clear();
    Draw();
  }
}

void RunDisplay::Finish() {
  std::lock_guard lock(mutex_);
  if (barShown_) out_ << std::endl;
  barShown_ = false;
  if (terminal_ && Several() && drawn_ == 0) Draw();
  drawn_ = 0;
  out_.flush();
}

// With `width` 0, the time left alone.
std::string RunDisplay::Bar(const Unit& u, int width) const {
  double perItem = kTickSeconds;  // one per tick until there is a measure
  if (u.sent > 1) {
    perItem = std::chrono::duration<double>(Clock::now() - u.first).count() / (u.sent - 1);
  }
  const std::string left = MinutesSeconds(perItem * (u.total - u.sent));
  if (width == 0) return left;
  const int filled = u.total > 0 ? u.sent * width / u.total : width;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), '-') + "] " +
         std::to_string(u.sent) + "/" + std::to_string(u.total) + " " + u.what + "  " +
         std::to_string(Percent(u.sent, u.total)) + "%  " + left + " left";
}

std::string RunDisplay::StatusLine(const Unit& u) const {
  if (!Several()) return Bar(u, kOneBarWidth);
  std::string line = Label(u.port);
  line.resize(kLabelWidth, ' ');
  if (u.ended) {
    line += "  " + u.summary;
  } else if ((u.phase == RunPhase::Records || u.phase == RunPhase::BootLines) && u.total > 0) {
    line += "  " + Bar(u, kUnitBarWidth);
  } else {
    line += "  " + PhaseText(u.phase);
  }
  if (line.size() > kScreenWidth) line.resize(kScreenWidth);
  return line;
}

void RunDisplay::Clear() {
  if (!terminal_) return;
  if (barShown_) out_ << "\r\033[K";
  if (drawn_ > 0) out_ << "\033[" << drawn_ << "A\r\033[J";
  drawn_ = 0;
}

void RunDisplay::Draw() {
  if (!terminal_) return;
  if (!Several()) {
    if (barShown_) out_ << StatusLine(units_.front()) << "\033[K" << std::flush;
    return;
  }
  for (const Unit& u : units_) out_ << StatusLine(u) << "\033[K\n";
  drawn_ = units_.size();
  lastDraw_ = Clock::now();
  out_.flush();
}
