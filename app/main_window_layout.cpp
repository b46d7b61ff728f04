// The main window's widgets: each screen's group box built in its own function, in the order
// the window shows them, and the buttons connected to the window's logic.
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/gauge_widget.h"
#include "app/logo.h"
#include "app/main_window.h"
#include "app/window_text.h"
#include "sequencer/window_texts.h"

using window_text::Q;
using window_text::WindowFont;

namespace {

// The scrolled content: it asks for the height its screens need at the least, not the height
// they would like, so that it scrolls only where the window is too small for them.
class ScreenContent : public QWidget {
 public:
  using QWidget::QWidget;
  int heightForWidth(int width) const override {
    return layout() ? layout()->totalMinimumHeightForWidth(width) : QWidget::heightForWidth(width);
  }
};

}  // namespace

template <typename W>
W* TForm1::make(Ctl control, QWidget* parent) {
  return adopt(control, new W(parent));  // owned by its parent widget
}

template <typename W>
W* TForm1::adopt(Ctl control, W* widget) {
  const std::string_view name = ControlName(control);
  widget->setObjectName(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  m_controls[static_cast<std::size_t>(control)] = widget;
  return widget;
}

void TForm1::buildWidgets() {
  // The window's content lies in a scrolled area: where the screen is smaller than the design
  // size (a small screen at a large scale) the window fits the screen and its content
  // scrolls, and Tab brings each control it reaches into view, so that no button is lost.
  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 0);
  m_scroll = new QScrollArea(this);
  m_scroll->setObjectName(QStringLiteral("ScreenScroll"));
  m_scroll->setFrameShape(QFrame::NoFrame);
  m_scroll->setWidgetResizable(true);
  window->addWidget(m_scroll);
  auto* content = new ScreenContent(m_scroll);
  content->setObjectName(QStringLiteral("ScreenContent"));
  // The content never gets less than the design size, at which every screen fits.
  content->setMinimumSize(kDesignWidth, kDesignHeight);
  m_scroll->setWidget(content);
  // However a control gets the focus (Tab, a mnemonic, the window's logic), it comes into view.
  connect(qApp, &QApplication::focusChanged, m_scroll, [this, content](QWidget*, QWidget* now) {
    if (now && content->isAncestorOf(now)) m_scroll->ensureWidgetVisible(now, 8, 8);
  });
  // The screens sit in a column that grows with the window up to a comfortable size and is
  // centred beyond it, so that a maximised window does not spread its few controls thin.
  auto* outer = new QVBoxLayout(content);
  // The window keeps the size the user gave it: a screen that needs more room does not make
  // it grow.
  outer->setSizeConstraint(QLayout::SetNoConstraint);
  outer->setContentsMargins(8, 4, 8, 4);
  outer->setSpacing(2);
  auto* column = new QWidget(content);
  column->setObjectName(QStringLiteral("ScreenColumn"));
  column->setMaximumSize(1040, 660);
  auto* middle = new QHBoxLayout;
  middle->addStretch(0);
  middle->addWidget(column, 1);
  middle->addStretch(0);
  outer->addStretch(0);
  outer->addLayout(middle, 1);
  outer->addStretch(0);
  auto* root = new QVBoxLayout(column);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(2);

  root->addLayout(buildHeader());
  root->addWidget(buildOpeningScreen(), 1);
  root->addWidget(buildUploadScreen(), 1);
  root->addWidget(buildFactoryScreen(), 1);
  root->addLayout(buildButtonRow());
  outer->addLayout(buildFooter());

  for (QWidget* widget : m_controls) {
    if (auto* label = qobject_cast<QLabel*>(widget)) label->setTextFormat(Qt::PlainText);
  }
  connectControls();
  fitMinimumToScreen();
  resize(minimumSize());
}

// Logo and title.
QLayout* TForm1::buildHeader() {
  auto* header = new QHBoxLayout;
  auto* image1 = make<QLabel>(Ctl::Image1, this);
  image1->setPixmap(KorvaneLogo());
  image1->setAlignment(Qt::AlignCenter);
  image1->setFixedSize(361, 87);
  auto* label5 = make<QLabel>(Ctl::Label5, this);
  QFont titleFont = WindowFont();
  titleFont.setPixelSize(32);
  titleFont.setBold(true);
  titleFont.setItalic(true);
  label5->setFont(titleFont);
  label5->setAlignment(Qt::AlignCenter);
  label5->setProperty("kvBaseFont", titleFont);
  header->addStretch(1);
  header->addWidget(image1);
  header->addSpacing(12);
  header->addWidget(label5);
  header->addStretch(1);
  return header;
}

// The opening screen's left half: the instructions, the cable's wiring and the port.
void TForm1::buildCablePanel(QWidget* opening, QBoxLayout* halves) {
  auto* left = new QVBoxLayout;
  auto* label6 = make<QLabel>(Ctl::Label6, opening);
  label6->setWordWrap(true);
  auto* label13 = make<QLabel>(Ctl::Label13, opening);
  label13->setWordWrap(true);
  left->addWidget(label6);
  left->addWidget(label13);
  auto* portRow = new QHBoxLayout;
  auto* label3 = make<QLabel>(Ctl::Label3, opening);
  auto* commPortBox = make<QComboBox>(Ctl::CommPortBox, opening);
  commPortBox->setMinimumWidth(52);
  m_portDevice = new QLabel(opening);
  m_portDevice->setObjectName(QStringLiteral("PortDevice"));
  m_portDevice->setTextFormat(Qt::PlainText);
  label3->setBuddy(commPortBox);
  portRow->addWidget(label3);
  portRow->addWidget(commPortBox);
  portRow->addWidget(m_portDevice);
  portRow->addStretch(1);
  // The port is chosen above the cable's detail, so that opening the detail does not move it.
  left->addLayout(portRow);
  auto* cableRow = new QHBoxLayout;
  auto* btnCable = make<QPushButton>(Ctl::BtnCable, opening);
  cableRow->addWidget(btnCable);
  cableRow->addStretch(1);
  left->addLayout(cableRow);
  auto* memoCable = make<QPlainTextEdit>(Ctl::MemoCable, opening);
  memoCable->setReadOnly(true);
  QFont mono(QStringLiteral("Courier New"));
  mono.setStyleHint(QFont::TypeWriter);
  mono.setPixelSize(12);
  memoCable->setFont(mono);
  memoCable->setProperty("kvBaseFont", mono);
  QStringList cable;
  for (const std::string& line : window_texts::CableLines()) cable << Q(line);
  memoCable->setPlainText(cable.join(QLatin1Char('\n')));
  // As tall as its lines need where there is room, and no taller; scrolled where there is not.
  memoCable->setMinimumHeight(60);
  memoCable->setMaximumHeight(QFontMetrics(mono).lineSpacing() *
                                  static_cast<int>(cable.size() + 1) +
                              2 * (memoCable->frameWidth() + 4));
  left->addWidget(memoCable, 1);
  left->addStretch(0);
  halves->addLayout(left, 1);
}

// The opening screen's right half: the speed and Software Upload, and the factory's road.
void TForm1::buildRoadsPanel(QWidget* opening, QBoxLayout* halves) {
  auto* right = new QVBoxLayout;
  right->addWidget(make<QLabel>(Ctl::Label7, opening));
  auto* groupBox1 = make<QGroupBox>(Ctl::GroupBox1, opening);
  auto* g1 = new QGridLayout(groupBox1);
  g1->setVerticalSpacing(3);
  auto* label9 = make<QLabel>(Ctl::Label9, groupBox1);
  auto* baudRateBox = make<QComboBox>(Ctl::BaudRateBox, groupBox1);
  baudRateBox->setMaximumWidth(96);
  label9->setBuddy(baudRateBox);
  auto* label22 = make<QLabel>(Ctl::Label22, groupBox1);
  label22->setWordWrap(true);
  auto* btn2Upload = make<QPushButton>(Ctl::Btn2Upload, groupBox1);
  auto* baudRow = new QHBoxLayout;
  baudRow->addWidget(label9);
  baudRow->addWidget(baudRateBox);
  baudRow->addStretch(1);
  g1->addLayout(baudRow, 0, 0);
  g1->addWidget(label22, 1, 0);
  g1->addWidget(btn2Upload, 0, 1, 2, 1, Qt::AlignVCenter);
  g1->setColumnStretch(0, 1);
  right->addWidget(groupBox1);
  auto* groupBox3 = make<QGroupBox>(Ctl::GroupBox3, opening);
  auto* g3 = new QHBoxLayout(groupBox3);
  auto* label21 = make<QLabel>(Ctl::Label21, groupBox3);
  label21->setWordWrap(true);
  QFont warnFont = WindowFont();
  warnFont.setPixelSize(12);
  label21->setFont(warnFont);
  label21->setProperty("kvBaseFont", warnFont);
  auto* btnBoot = make<QPushButton>(Ctl::BtnBoot, groupBox3);
  g3->addWidget(label21, 1);
  g3->addWidget(btnBoot, 0, Qt::AlignVCenter);
  right->addWidget(groupBox3);
  right->addStretch(1);
  halves->addLayout(right, 1);
}

QWidget* TForm1::buildOpeningScreen() {
  auto* opening = make<QGroupBox>(Ctl::OpeningBox, this);
  auto* halves = new QHBoxLayout(opening);
  buildCablePanel(opening, halves);
  buildRoadsPanel(opening, halves);
  return opening;
}

QWidget* TForm1::buildUploadScreen() {
  auto* mainBox = make<QGroupBox>(Ctl::MainBox, this);
  auto* mainLayout = new QGridLayout(mainBox);
  mainLayout->setContentsMargins(8, 4, 8, 4);
  mainLayout->setVerticalSpacing(2);
  // Label14 (the comms status line) shares the first row: it is empty at start and stays so.
  auto* label12 = make<QLabel>(Ctl::Label12, mainBox);
  auto* label14 = make<QLabel>(Ctl::Label14, mainBox);
  auto* label8 = make<QLabel>(Ctl::Label8, mainBox);
  label12->setWordWrap(true);
  label8->setWordWrap(true);
  mainLayout->addWidget(label12, 0, 0);
  mainLayout->addWidget(label14, 0, 1);
  mainLayout->addWidget(label8, 1, 0, 1, 2);
  mainLayout->addWidget(make<QPushButton>(Ctl::BtnChooseFile, mainBox), 0, 2, 2, 1,
                        Qt::AlignRight | Qt::AlignVCenter);
  auto* runBox = make<QGroupBox>(Ctl::RunBox, mainBox);
  auto* runLayout = new QGridLayout(runBox);
  runLayout->setContentsMargins(8, 4, 8, 6);
  runLayout->setVerticalSpacing(2);
  int row = 0;
  for (Ctl name : {Ctl::Label15, Ctl::Label4, Ctl::Label2}) {
    auto* label = make<QLabel>(name, runBox);
    label->setWordWrap(true);
    runLayout->addWidget(label, row++, 0, 1, 4);
  }
  auto* gauge = adopt(Ctl::Gauge, new TGauge(Model().Gauge(), runBox));  // owned by the run box
  gauge->setFixedSize(233, 33);
  // The warning line leads its row, in line with the lines above, and the gauge comes and
  // goes to its right: the line never moves through a run.
  runLayout->addWidget(make<QLabel>(Ctl::Label10, runBox), row, 0);
  runLayout->addWidget(gauge, row, 1);
  runLayout->addWidget(make<QPushButton>(Ctl::BtnStartRun, runBox), row, 2);
  runLayout->setRowMinimumHeight(row, gauge->height());
  runLayout->setColumnStretch(3, 1);
  runLayout->setHorizontalSpacing(12);
  mainLayout->addWidget(runBox, 2, 0, 1, 3);
  mainLayout->setRowStretch(3, 1);
  mainLayout->setColumnStretch(0, 2);
  mainLayout->setColumnStretch(1, 1);
  return mainBox;
}

QWidget* TForm1::buildFactoryScreen() {
  auto* factory = make<QGroupBox>(Ctl::FactoryBox, this);
  auto* factoryLayout = new QHBoxLayout(factory);
  auto* factoryLeft = new QVBoxLayout;
  factoryLeft->addWidget(make<QLabel>(Ctl::Label19, factory));
  factoryLeft->addWidget(make<QLabel>(Ctl::Label18, factory));
  m_history = make<QPlainTextEdit>(Ctl::FUpHist, factory);
  m_history->setReadOnly(true);
  m_history->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_history->setMinimumHeight(60);
  factoryLeft->addWidget(m_history, 1);
  factoryLayout->addLayout(factoryLeft, 1);
  auto* factoryRight = new QVBoxLayout;
  for (Ctl name : {Ctl::Label1, Ctl::Label16}) {
    auto* label = make<QLabel>(name, factory);
    label->setWordWrap(true);
    factoryRight->addWidget(label);
  }
  auto* goOnRow = new QHBoxLayout;
  goOnRow->addWidget(make<QPushButton>(Ctl::BtnGoOn, factory));
  goOnRow->addStretch(1);
  factoryRight->addLayout(goOnRow);
  factoryRight->addStretch(1);
  factoryLayout->addLayout(factoryRight, 1);
  return factory;
}

// Buttons present on every screen.
QLayout* TForm1::buildButtonRow() {
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(make<QPushButton>(Ctl::BtnRepeatUpload, this));
  buttons->addWidget(make<QPushButton>(Ctl::BtnBackToStart, this));
  buttons->addStretch(1);
  buttons->addWidget(make<QPushButton>(Ctl::BtnCaptureFile, this));
  auto* label11 = make<QLabel>(Ctl::Label11, this);
  label11->setMinimumWidth(60);
  buttons->addWidget(label11);
  buttons->addSpacing(16);
  buttons->addWidget(make<QPushButton>(Ctl::BtnHelp, this));
  buttons->addWidget(make<QPushButton>(Ctl::BtnClose, this));
  return buttons;
}

// Footer with the maker's lines.
QLayout* TForm1::buildFooter() {
  auto* footer = make<QGroupBox>(Ctl::GroupBox2, this);
  footer->setMaximumWidth(1040);
  auto* footerLayout = new QVBoxLayout(footer);
  footerLayout->setContentsMargins(6, 2, 6, 2);
  footerLayout->setSpacing(0);
  QFont small = WindowFont();
  small.setPixelSize(11);
  for (Ctl name : {Ctl::Title1, Ctl::Title2}) {
    auto* title = make<QLabel>(name, footer);
    title->setAlignment(Qt::AlignCenter);
    title->setFont(small);
    title->setProperty("kvBaseFont", small);
    footerLayout->addWidget(title);
  }
  auto* footerRow = new QHBoxLayout;
  footerRow->addStretch(0);
  footerRow->addWidget(footer, 1);
  footerRow->addStretch(0);
  return footerRow;
}

void TForm1::connectControls() {
  onClick(Ctl::Btn2Upload, &MainForm::Btn2UploadClick);
  onClick(Ctl::BtnBackToStart, &MainForm::BtnBackToStartClick);
  onClick(Ctl::BtnCable, &MainForm::BtnCableClick);
  onClick(Ctl::BtnHelp, &MainForm::BtnHelpClick);
  onClick(Ctl::BtnClose, &MainForm::BtnCloseClick);
  onClick(Ctl::BtnCaptureFile, &MainForm::BtnCaptureFileClick);
  onClick(Ctl::BtnChooseFile, &MainForm::BtnChooseFileClick);
  onClick(Ctl::BtnRepeatUpload, &MainForm::BtnRepeatUploadClick);
  onClick(Ctl::BtnStartRun, &MainForm::BtnStartRunClick);
  onClick(Ctl::BtnBoot, &MainForm::BtnBootClick);
  onClick(Ctl::BtnGoOn, &MainForm::BtnGoOnClick);

  // F1 is the Help button's key, as in any window.
  auto* helpKey = new QShortcut(QKeySequence::HelpContents, this);
  connect(helpKey, &QShortcut::activated, this,
          [this] { guarded([this] { Form().BtnHelpClick(); }); });

  for (Ctl list : {Ctl::CommPortBox, Ctl::BaudRateBox}) {
    auto* box = qobject_cast<QComboBox*>(ControlWidget(list));
    for (const std::string& item : Model().List(list).items) box->addItem(Q(item));
    connect(box, &QComboBox::currentIndexChanged, this,
            [this, list](int index) { Model().SetItemIndex(list, index); });
  }
}
