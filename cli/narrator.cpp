#include "cli/narrator.h"

#include <cctype>
#include <string>

#include "sequencer/window_model.h"

namespace {

bool Blank(const std::string& text) {
  for (const char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// A text that sends the user to one of the window's buttons ("<Close>", "<Proceed>"): the
// command goes on by itself, or says in its own words what to do.
bool NamesAButton(const std::string& text) {
  std::string lower;
  for (const char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("click on <") != std::string::npos;
}

}  // namespace

Narrator::Narrator(WindowModel& window, Sink sink) : window_(window), sink_(std::move(sink)) {
  historySize_ = window_.FUpHist().size();
  window_.AddListener([self = self_](Ctl control) {
    if (*self) (*self)->Changed(control);
  });
}

void Narrator::Progressed(const RunProgress& progress) {
  if (progress.recordsSent > recordsSent_) historyEcho_ = labelEcho_ = true;
  if (progress.linesSent > linesSent_) historyEcho_ = true;
  recordsSent_ = progress.recordsSent;
  linesSent_ = progress.linesSent;
}

void Narrator::Changed(Ctl control) {
  if (control == Ctl::Gauge) return;
  if (control == Ctl::FUpHist) {
    HistoryChanged();
    return;
  }
  if (!IsLabel(control)) return;
  const std::string& text = window_.Caption(control);
  if (control == Ctl::Label2 && labelEcho_) {
    labelEcho_ = false;
    return;
  }
  historyEcho_ = labelEcho_ = false;
  if (!window_.Visible(control)) return;
  if (Blank(text) || history_.count(text) || !labels_.insert(text).second) return;
  Say(text);
}

void Narrator::HistoryChanged() {
  const auto& lines = window_.FUpHist();
  const bool added = lines.size() > historySize_;
  historySize_ = lines.size();
  if (lines.empty()) return;
  if (historyEcho_ && !added) {
    historyEcho_ = false;
    return;
  }
  historyEcho_ = false;
  const std::string& text = lines.back();
  // A line that a label has just told is not told again; the unit's own lines may repeat.
  if (Blank(text) || labels_.count(text)) return;
  if (!added && history_.count(text)) return;
  history_.insert(text);
  Say(text);
}

void Narrator::Say(const std::string& text) {
  if (NamesAButton(text)) return;
  sink_(text);
}
