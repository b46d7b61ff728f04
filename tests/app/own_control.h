// The main window's own widget for a control named as the window names it (the chooser, a
// child of the window, has controls of the same names).
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <string_view>

#include "app/main_window.h"

inline QWidget* OwnControl(TForm1& form, std::string_view name, bool required = true) {
  for (const ControlDesign& d : kControls) {
    if (d.name == name) return form.ControlWidget(d.id);
  }
  if (required) ADD_FAILURE() << "the window has no control named " << name;
  return nullptr;
}
