#include "app/help_window.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "components/install_paths.h"
#include "sequencer/window_texts.h"

THelpWindow::THelpWindow(QWidget* parent, const QString& filePlaces) : QDialog(parent) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QString::fromLatin1(window_texts::kAppTitle) + QStringLiteral(" - Help"));
  setModal(false);
  resize(560, 460);
  auto* layout = new QVBoxLayout(this);
  m_browser = new QTextBrowser(this);
  m_browser->setObjectName(QStringLiteral("HelpBrowser"));
  m_browser->setOpenLinks(true);
  m_browser->setOpenExternalLinks(false);
  layout->addWidget(m_browser);
  m_places = new QLabel(filePlaces.trimmed(), this);
  m_places->setObjectName(QStringLiteral("HelpFilePlaces"));
  m_places->setTextFormat(Qt::PlainText);
  m_places->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  m_places->setWordWrap(true);
  m_places->setHidden(filePlaces.isEmpty());
  layout->addWidget(m_places);
  auto* close = new QPushButton(QStringLiteral("&Close"), this);
  close->setObjectName(QStringLiteral("HelpClose"));
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  layout->addWidget(close, 0, Qt::AlignRight);
}

// The pages are compiled into a static library: their resource must be registered by hand.
static void InitHelpResources() {
  Q_INIT_RESOURCE(help);
}

QUrl THelpWindow::TopicPage(int topic) {
  const QString name = QStringLiteral("topic%1.html").arg(topic);
  const std::string dataDir = InstalledDataDir();
  if (!dataDir.empty()) {
    const QString installed = QString::fromLocal8Bit(dataDir) + QStringLiteral("help/") + name;
    if (QFile::exists(installed)) return QUrl::fromLocalFile(installed);
  }
  static const bool registered = (InitHelpResources(), true);
  (void)registered;
  const QString builtIn = QStringLiteral(":/help/") + name;
  return QFile::exists(builtIn) ? QUrl(QStringLiteral("qrc") + builtIn) : QUrl();
}

void THelpWindow::ShowTopic(int topic) {
  QUrl page = TopicPage(topic);
  if (page.isEmpty()) {
    topic = 1;
    page = TopicPage(1);
  }
  m_topic = topic;
  m_browser->setSource(page);
  show();
  raise();
  activateWindow();
}
