// The help viewer: the program's help pages shown in a window of their own, opened at a topic
// number. An installed program reads the pages installed with it; the copies built into the
// executable serve when there are none (a program run from its build folder).
#pragma once

#include <QDialog>

class QLabel;
class QTextBrowser;
class QUrl;

class THelpWindow : public QDialog {
  Q_OBJECT

 public:
  // `filePlaces`, under every page, says where this machine keeps the program's files.
  explicit THelpWindow(QWidget* parent = nullptr, const QString& filePlaces = {});
  // Shows topic `topic` (1, 3, 4, 5, 9); an unknown number shows the first page.
  void ShowTopic(int topic);
  int Topic() const { return m_topic; }
  QTextBrowser* Browser() const { return m_browser; }
  QLabel* FilePlaces() const { return m_places; }

  // The page of a topic, or an empty URL when there is none.
  static QUrl TopicPage(int topic);

 private:
  QTextBrowser* m_browser = nullptr;
  QLabel* m_places = nullptr;
  int m_topic = 0;
};
