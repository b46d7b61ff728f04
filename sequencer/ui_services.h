// What the core asks of its front end (the Qt window, the command line, a test).
#pragma once

#include <string>

class IUiServices {
 public:
  virtual ~IUiServices() = default;
  // A modal message (an error, a warning); returns when the user has closed it.
  virtual void ShowMessage(const std::string& text) = 0;
  // The serial port's own failure, told by the platform (a window shows it as an error).
  virtual void ShowPortError(const std::string& text) { ShowMessage(text); }
  // A question answered Yes or No (true for Yes), modal. A front end without a user answers
  // as its options say.
  virtual bool Confirm(const std::string& text) = 0;
  // A message that does not hold anything up: the run goes on while it is shown.
  virtual void ShowNotice(const std::string& text) = 0;
  // The file chooser: its list of file types ("Desc|*.ext|Desc|*.ext|...").
  virtual void SetChooserFilter(const std::string& filter) = 0;
  // Shows the file chooser modally; true for OK, with the chosen name in `chosenPath`.
  virtual bool ChooseFile(std::string& chosenPath) = 0;
  // Help at a topic number (1, 3, 4, 5, 9).
  virtual void ShowHelp(int topic) = 0;
  // Lets pending events run (button clicks, received data) in the middle of a tick.
  virtual void ProcessPendingMessages() = 0;
  // The main window closes and the program ends.
  virtual void CloseWindow() = 0;
};
