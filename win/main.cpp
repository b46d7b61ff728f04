// kvuflash.exe: the Korvane Flash Device Upload window on Windows.
#include <windows.h>

#include <exception>

#include "sequencer/window_texts.h"
#include "win/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  try {
    WinForm1 form1(instance);
    form1.Start(showCommand);
    return RunMessageLoop([&form1](MSG& msg) { return form1.PreTranslate(msg); });
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), window_texts::kAppTitle, MB_OK | MB_ICONERROR);
    return 1;
  }
}
