#include "app/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QWindow>
#include <algorithm>
#include <exception>
#include <utility>

#include "app/logo.h"
#include "app/qt_main_thread.h"
#include "app/qt_ui_services.h"
#include "app/window_text.h"
#include "components/port_map.h"
#include "sequencer/window_texts.h"

namespace {

using window_text::Q;
using window_text::WindowFont;

QColor ToQColor(TColor c) {
  return QColor(c.r, c.g, c.b);
}

}  // namespace

TForm1::TForm1(std::string programDir, bool startTimer, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(window_texts::kCaption));
  setFont(WindowFont());
  setWindowIcon(QIcon(KorvaneMark(64)));

  m_mainThread = std::make_unique<QtMainThread>();
  m_ui = std::make_unique<QtUiServices>(*this, *m_mainThread);
  m_station = std::make_unique<Station>(*m_mainThread, *m_ui, std::move(programDir));
  m_ui->SetProgramDir(Serial1().ProgramDir);

  WindowModel& w = Model();
  w.SetCaption(Ctl::Title1, window_texts::kMakerLine1);
  w.SetCaption(Ctl::Title2, window_texts::kMakerLine2);
  buildWidgets();
  bindModel();
  m_station->Activate();
  if (startTimer) m_station->StartTicks();
}

TForm1::~TForm1() {
  // The workers stop before the objects their calls would reach go away.
  m_station->Stop();
  m_mainThread->Shutdown();
  // The widgets (the gauge listens to the model) go before the model they show; the dialogs
  // owned by the front-end services go first of all.
  m_ui.reset();
  qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
  m_controls.fill(nullptr);
}

void TForm1::onClick(Ctl button, void (MainForm::*handler)()) {
  auto* widget = qobject_cast<QPushButton*>(ControlWidget(button));
  connect(widget, &QPushButton::clicked, this,
          [this, handler] { guarded([this, handler] { (Form().*handler)(); }); });
}

void TForm1::guarded(const std::function<void()>& action) {
  // A button's error is shown and the window stays usable.
  try {
    action();
  } catch (const std::exception& e) {
    m_ui->ShowMessage(e.what());
  }
}

void TForm1::bindModel() {
  Model().AddListener([this](Ctl control) { refresh(control); });
  for (const Ctl control : WindowModel::Controls()) refresh(control);
  refreshHistory();
}

void TForm1::refresh(Ctl name) {
  if (name == Ctl::FUpHist) refreshHistory();
  if (name == Ctl::CommPortBox || name == Ctl::BaudRateBox) {
    refreshList(name);
    return;
  }
  QWidget* widget = ControlWidget(name);
  if (!widget) return;
  const ControlState& c = Model().Control(name);
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (!label->pixmap().isNull()) {
      // Image1 keeps its picture.
    } else {
      label->setText(Q(c.caption));
    }
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(Q(c.caption));
  } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
    box->setTitle(Q(c.caption));
  }
  if (!qobject_cast<QGroupBox*>(widget) && !qobject_cast<QPlainTextEdit*>(widget)) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, ToQColor(c.color));
    palette.setColor(QPalette::ButtonText, ToQColor(c.color));
    widget->setPalette(palette);
  }
  const QVariant base = widget->property("kvBaseFont");
  QFont font = base.isValid() ? base.value<QFont>() : WindowFont();
  if (c.fontSize > 0) font.setPointSize(c.fontSize);
  widget->setFont(font);
  widget->setHidden(!c.visible);
  if (name == Ctl::Gauge) widget->update();
}

void TForm1::refreshList(Ctl name) {
  auto* box = qobject_cast<QComboBox*>(ControlWidget(name));
  if (!box) return;
  const ListState& list = Model().List(name);
  if (box->currentIndex() != list.itemIndex) {
    const QSignalBlocker block(box);
    box->setCurrentIndex(list.itemIndex);
  }
  if (name == Ctl::CommPortBox) refreshPortDevice();
}

void TForm1::refreshPortDevice() {
  const std::string text = Model().List(Ctl::CommPortBox).Text();
  if (text.empty()) {
    m_portDevice->setText(QString());
    return;
  }
  const std::string device = Serial1().DeviceName(std::stoi(text));
  m_portDevice->setText(device.empty() ? QStringLiteral("(no serial device: name one in %1)")
                                             .arg(Q(PortMapFile(Serial1().ProgramDir)))
                                       : QStringLiteral("= ") + Q(device));
}

void TForm1::refreshHistory() {
  const std::vector<std::string>& lines = Model().FUpHist();
  const std::size_t shown = m_shownHistory.size();
  if (lines.size() == shown + 1 &&
      std::equal(m_shownHistory.begin(), m_shownHistory.end(), lines.begin())) {
    m_history->appendPlainText(Q(lines.back()));
  } else if (shown > 0 && lines.size() == shown &&
             std::equal(m_shownHistory.begin(), m_shownHistory.end() - 1, lines.begin())) {
    if (lines.back() != m_shownHistory.back()) {
      // The last line rewritten in place (the block counter).
      QTextCursor cursor(m_history->document()->lastBlock());
      cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
      cursor.insertText(Q(lines.back()));
    }
  } else {
    QStringList all;
    for (const std::string& line : lines) all << Q(line);
    m_history->setPlainText(all.join(QLatin1Char('\n')));
  }
  m_shownHistory = lines;
  m_history->verticalScrollBar()->setValue(m_history->verticalScrollBar()->maximum());
}

void TForm1::fitMinimumToScreen() {
  QSize least(kDesignWidth, kDesignHeight);
  if (const QScreen* s = screen()) {
    // The frame the window system adds counts against the screen's room.
    const QSize frame = frameGeometry().size() - geometry().size();
    least = least.boundedTo(s->availableGeometry().size() - frame);
  }
  setMinimumSize(least);
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  fitMinimumToScreen();
  if (!m_followsScreen && windowHandle()) {
    m_followsScreen = true;
    connect(windowHandle(), &QWindow::screenChanged, this, [this] { fitMinimumToScreen(); });
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!m_closing && !Form().CloseMayGoAhead()) {
    event->ignore();
    return;
  }
  if (!m_closing) {
    m_closing = true;
    if (THelpWindow* help = m_ui->HelpWindow()) help->close();
    m_station->Finish();
  }
  event->accept();
}
