// The help viewer: the program's help pages (built into the executable) shown in a window
// of their own, opened at a topic number.
#pragma once

#include <QDialog>

class QTextBrowser;

class THelpWindow : public QDialog {
  Q_OBJECT

 public:
  explicit THelpWindow(QWidget* parent = nullptr);
  // Shows topic `topic` (1, 3, 4, 5, 9); an unknown number shows the first page.
  void ShowTopic(int topic);
  int Topic() const { return m_topic; }
  QTextBrowser* Browser() const { return m_browser; }

  // The resource page of a topic, or an empty string when there is none.
  static QString TopicPage(int topic);

 private:
  QTextBrowser* m_browser = nullptr;
  int m_topic = 0;
};
