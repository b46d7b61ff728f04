// The main window TForm1: every control of the opening, Software Upload and factory screens,
// bound to the core's window model, with the station (the serial port Serial1, the tick timer
// Timer1 and the main window's logic) that drives the sequencer.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "form/station.h"
#include "kv_build_info.h"

class QBoxLayout;
class QComboBox;
class QLabel;
class QLayout;
class QPlainTextEdit;
class QScrollArea;
class QtMainThread;
class QtUiServices;

// The window's design size: its size at start and the smallest it may be made.
inline constexpr int kDesignWidth = 762;
inline constexpr int kDesignHeight = 409;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // `programDir` (with its trailing separator) holds the settings and capture files; empty:
  // the program's own folder. Without `startTimer` no tick runs until Timer1 is enabled
  // (tests drive ticks by hand).
  explicit TForm1(std::string programDir = {}, bool startTimer = true, QWidget* parent = nullptr);
  ~TForm1() override;

  MainForm& Form() { return m_station->Form(); }
  WindowModel& Model() { return m_station->Model(); }
  TSerial& Serial1() { return m_station->Serial1(); }
  TSuperTimer& Timer1() { return m_station->Timer1(); }
  QtMainThread& MainThread() { return *m_mainThread; }
  QtUiServices& Ui() { return *m_ui; }

  // The widget bound to a control of the model (its objectName is the control's name).
  QWidget* ControlWidget(Ctl control) const {
    return m_controls[static_cast<std::size_t>(control)];
  }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // The widgets, screen by screen (main_window_layout.cpp).
  void buildWidgets();
  QLayout* buildHeader();
  QWidget* buildOpeningScreen();
  void buildCablePanel(QWidget* opening, QBoxLayout* halves);
  void buildRoadsPanel(QWidget* opening, QBoxLayout* halves);
  QWidget* buildUploadScreen();
  QWidget* buildFactoryScreen();
  QLayout* buildButtonRow();
  QLayout* buildFooter();
  void connectControls();
  // The design size, or the screen's room where the screen is smaller: the content scrolls.
  void fitMinimumToScreen();
  void bindModel();
  void refresh(Ctl name);
  void refreshHistory();
  void refreshList(Ctl name);
  void refreshPortDevice();
  template <typename W>
  W* make(Ctl control, QWidget* parent);
  template <typename W>
  W* adopt(Ctl control, W* widget);
  void onClick(Ctl button, void (MainForm::*handler)());
  void guarded(const std::function<void()>& action);

  std::unique_ptr<QtMainThread> m_mainThread;
  std::unique_ptr<QtUiServices> m_ui;
  std::unique_ptr<Station> m_station;

  std::array<QWidget*, kControlCount> m_controls{};
  QScrollArea* m_scroll = nullptr;
  bool m_followsScreen = false;
  QLabel* m_portDevice = nullptr;
  QPlainTextEdit* m_history = nullptr;
  std::vector<std::string> m_shownHistory;
  bool m_closing = false;
};
