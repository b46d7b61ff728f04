// The help viewer: the program's help pages shown in a window of their own, opened at a topic
// number. An installed program reads the pages installed with it; the copies built into the
// executable serve when there are none (a program run from its build folder).
#pragma once

#include <QDialog>

class QTextBrowser;
class QUrl;

class THelpWindow : public QDialog {
  Q_OBJECT

 public:
  explicit THelpWindow(QWidget* parent = nullptr);
  // Shows topic `topic` (1, 3, 4, 5, 9); an unknown number shows the first page.
  void ShowTopic(int topic);
  int Topic() const { return m_topic; }
  QTextBrowser* Browser() const { return m_browser; }

  // The page of a topic, or an empty URL when there is none.
  static QUrl TopicPage(int topic);

 private:
  QTextBrowser* m_browser = nullptr;
  int m_topic = 0;
};
