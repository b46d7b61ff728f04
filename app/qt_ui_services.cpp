#include "app/qt_ui_services.h"

#include <QMessageBox>

#include "app/file_chooser.h"
#include "components/main_thread.h"
#include "form/file_places.h"
#include "sequencer/window_texts.h"

QtUiServices::QtUiServices(QWidget& window, IMainThread& mainThread)
    : m_window(window), m_mainThread(mainThread) {
  // The chooser is made once, after the main window, and keeps its folder and type between
  // showings.
  m_chooser = std::make_unique<TForm2>(&m_window);
}

QtUiServices::~QtUiServices() = default;

void QtUiServices::ShowMessage(const std::string& text) {
  showModal(text, QMessageBox::Warning);
}

void QtUiServices::ShowPortError(const std::string& text) {
  showModal(text, QMessageBox::Critical);
}

void QtUiServices::showModal(const std::string& text, QMessageBox::Icon icon) {
  const QString message = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  if (MessageHook) {
    MessageHook(message);
    return;
  }
  if (icon == QMessageBox::Critical) {
    QMessageBox::critical(&m_window, QString::fromLatin1(window_texts::kAppTitle), message);
  } else {
    QMessageBox::warning(&m_window, QString::fromLatin1(window_texts::kAppTitle), message);
  }
}

bool QtUiServices::Confirm(const std::string& text) {
  const QString question = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  if (ConfirmHook) return ConfirmHook(question);
  return QMessageBox::question(&m_window, QString::fromLatin1(window_texts::kAppTitle), question,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void QtUiServices::ShowNotice(const std::string& text) {
  const QString notice = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  if (NoticeHook) {
    NoticeHook(notice);
    return;
  }
  // Not modal: the ticks, and the unit, are not kept waiting for the user to read it.
  auto* box =
      new QMessageBox(QMessageBox::Information, QString::fromLatin1(window_texts::kAppTitle),
                      notice, QMessageBox::Ok, &m_window);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void QtUiServices::SetChooserFilter(const std::string& filter) {
  m_filter = QString::fromLocal8Bit(filter.data(), static_cast<qsizetype>(filter.size()));
  m_chooser->SetFilter(m_filter);
}

bool QtUiServices::ChooseFile(std::string& chosenPath) {
  QString path;
  bool ok = false;
  if (ChooserHook) {
    ok = ChooserHook(path);
  } else {
    ok = m_chooser->exec() == QDialog::Accepted;
    path = m_chooser->ChosenPath();
  }
  if (!ok) return false;
  chosenPath = path.toLocal8Bit().toStdString();
  return true;
}

void QtUiServices::ShowHelp(int topic) {
  if (!m_help) {
    m_help = std::make_unique<THelpWindow>(&m_window,
                                           QString::fromLocal8Bit(FilePlacesText(m_programDir)));
  }
  m_help->ShowTopic(topic);
}

void QtUiServices::ProcessPendingMessages() {
  m_mainThread.ProcessPendingMessages();
}

void QtUiServices::CloseWindow() {
  m_window.close();
}
