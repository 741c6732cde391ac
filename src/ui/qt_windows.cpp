#include "ui/qt_windows.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "ui/window_texts.h"
#include "util/codec.h"

namespace quorvane {

namespace {

// Stand-ins, closest first, for the two faces the windows were drawn with.
const char* const kSansFallbacks[] = {"Liberation Sans", "Arimo", "DejaVu Sans"};

QLabel* MakeLabel(QWidget* parent, const char* name, const std::string& text, const QRect& rect,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  // Texts may come from the server: never let a '<' turn them into markup.
  label->setTextFormat(Qt::PlainText);
  label->setText(ToQString(text));
  label->setGeometry(rect);
  label->setAlignment(alignment);
  return label;
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& rect, QFrame::Shadow shadow) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameStyle(QFrame::Panel | shadow);
  panel->setLineWidth(1);
  panel->setGeometry(rect);
  return panel;
}

QLabel* MakeIcon(QWidget* parent, QStyle::StandardPixmap pixmap, const QRect& rect) {
  auto* icon = new QLabel(parent);
  icon->setObjectName("Image1");
  icon->setGeometry(rect);
  icon->setPixmap(parent->style()->standardIcon(pixmap).pixmap(rect.size()));
  return icon;
}

}  // namespace

QString ToQString(const std::string& cp1252) {
  return QString::fromStdString(Cp1252ToUtf8(cp1252));
}

std::string FromQString(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

QFont InstallerFont(const char* family, int point_size, bool bold) {
  QString chosen = QString::fromLatin1(family);
  const QStringList families = QFontDatabase::families();
  if (!families.contains(chosen)) {
    chosen.clear();
    for (const char* fallback : kSansFallbacks)
      if (families.contains(QString::fromLatin1(fallback))) {
        chosen = QString::fromLatin1(fallback);
        break;
      }
  }
  QFont font(chosen);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize((point_size * 96 + 36) / 72);
  font.setBold(bold);
  return font;
}

void CentreOnScreen(QWidget& window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->geometry();
  window.move(area.left() + (area.width() - window.width()) / 2,
              area.top() + (area.height() - window.height()) / 2);
}

// ---- connecting window ----

ConnectingWindow::ConnectingWindow()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("TF_Connexion");
  setFont(InstallerFont("Tahoma", 8));
  setFixedSize(266, 61);
  MakePanel(this, "Panel1", rect(), QFrame::Raised);
  const char* names[3] = {"Label3", "Label2", "Label1"};
  const int tops[3] = {13, 24, 34};
  for (int i = 0; i < 3; ++i)
    lines_[i] = MakeLabel(this, names[i], "", QRect(9, tops[i], 248, 13), Qt::AlignCenter);
  CentreOnScreen(*this);
}

void ConnectingWindow::SetLines(const std::string& top, const std::string& middle,
                                const std::string& bottom) {
  lines_[0]->setText(ToQString(top));
  lines_[1]->setText(ToQString(middle));
  lines_[2]->setText(ToQString(bottom));
}

void ConnectingWindow::PushLine(const std::string& text) {
  lines_[0]->setText(lines_[1]->text());
  lines_[1]->setText(lines_[2]->text());
  lines_[2]->setText(ToQString(text));
}

// ---- download window ----

DownloadWindow::DownloadWindow(bool english, std::uint32_t start_tick)
    : QWidget(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint), start_tick_(start_tick) {
  const DownloadWindowTexts texts = DownloadTexts(english);
  setObjectName("TF_User_Download");
  setWindowTitle(ToQString(texts.caption));
  setFont(InstallerFont("Tahoma", 8));
  setFixedSize(463, 325);

  QFrame* top = MakePanel(this, "Panel_Top", QRect(0, 0, 463, 65), QFrame::Sunken);
  top->setAutoFillBackground(true);
  QPalette white = top->palette();
  white.setColor(QPalette::Window, Qt::white);
  top->setPalette(white);
  QLabel* title = MakeLabel(top, "Label_Title", texts.title, QRect(16, 8, 300, 18));
  title->setFont(InstallerFont("Tahoma", 10, true));
  MakeLabel(top, "Label_Title_Explain", texts.title_explain, QRect(32, 32, 360, 16));
  MakeIcon(top, QStyle::SP_DriveHDIcon, QRect(407, 12, 40, 40));

  QFrame* client = MakePanel(this, "Panel_Client", QRect(0, 65, 463, 260), QFrame::Raised);
  MakeLabel(client, "Label_Installation", texts.installation, QRect(16, 34, 400, 16));
  const char* names[3] = {"Label_DB", "Label_Service", "Label_Kernel"};
  const int tops[3] = {60, 82, 104};
  for (int i = 0; i < 3; ++i)
    phase_labels_[i] = MakeLabel(client, names[i], texts.phases[i], QRect(48, tops[i], 380, 16));
  overall_ = new GaugeImage(client, QRect(32, 126, 395, 23));
  overall_->setObjectName("Image_Progress");
  item_ = new GaugeImage(client, QRect(32, 152, 395, 23));
  item_->setObjectName("Image_ProgressItem");

  auto* details = new QGroupBox(ToQString(texts.details), client);
  details->setObjectName("GroupBox_Detail");
  details->setGeometry(16, 182, 431, 68);
  speed_ = MakeLabel(details, "Label_Debit", "", QRect(12, 20, 200, 16));
  remaining_ = MakeLabel(details, "Label_Time_Yet", "", QRect(220, 20, 200, 16));
  amounts_ = MakeLabel(details, "Label_Position_On_Total", "", QRect(12, 42, 200, 16));
  files_ = MakeLabel(details, "Label_Files_On_Total", "", QRect(220, 42, 200, 16));
  CentreOnScreen(*this);
}

void DownloadWindow::SetPhase(int phase) {
  if (phase < 1 || phase > 3) return;
  for (int i = 0; i < 3; ++i) {
    QFont font = phase_labels_[i]->font();
    font.setBold(i == phase - 1);
    phase_labels_[i]->setFont(font);
  }
}

void DownloadWindow::ShowFigures(const DownloadFigures& figures) {
  if (figures.in_progress) overall_->Draw(figures.percent);
  speed_->setText(ToQString(figures.speed));
  remaining_->setText(ToQString(figures.remaining_time));
  amounts_->setText(ToQString(figures.amounts));
  files_->setText(ToQString(figures.files));
}

void DownloadWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
}

// ---- search window ----

SearchWindow::SearchWindow() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName("TF_ServerIntrouvable");
  setWindowTitle(ToQString(kSearchCaption));
  setFont(InstallerFont("MS Sans Serif", 8));
  setFixedSize(246, 59);
  MakePanel(this, "Panel1", rect(), QFrame::Raised);
  QLabel* message = MakeLabel(this, "Label_Message", kSearchMessage, QRect(56, 8, 180, 16));
  message->setFont(InstallerFont("Tahoma", 8, true));
  MakeIcon(this, QStyle::SP_FileDialogContentsView, QRect(12, 14, 32, 32));
  gauge_ = new GaugeImage(this, QRect(56, 27, 161, 17));
  gauge_->setObjectName("Image_Progress");
  gauge_->Draw(0);
  CentreOnScreen(*this);
}

// ---- modal dialog ----

ModalDialog::ModalDialog(Colour colour, const std::string& caption, const std::string& text,
                         bool question)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                           Qt::WindowStaysOnTopHint),
      question_(question) {
  constexpr int kHeight = 112;
  constexpr int kBottomHeight = 49;
  constexpr int kBorder = 25;
  setObjectName("TF_ModalDialog");
  setFont(InstallerFont("Tahoma", 8));
  setWindowTitle(ToQString(caption));
  QPalette colours = palette();
  colours.setColor(QPalette::Window, ResolveColour(colour, colours));
  setPalette(colours);
  setAutoFillBackground(true);

  int width = QFontMetrics(font()).horizontalAdvance(ToQString(text)) + 70;
  if (width < 250) width = 250;
  setFixedSize(width, kHeight);

  QFrame* client =
      MakePanel(this, "Panel_Client", QRect(0, 0, width, kHeight - kBottomHeight), QFrame::Raised);
  message_ =
      MakeLabel(client, "Label_Msg", "   " + text + "   ",
                QRect(0, kBorder, width, kHeight - kBottomHeight - 2 * kBorder), Qt::AlignCenter);
  QFrame* bottom =
      MakePanel(this, "Panel_Bottom", QRect(0, kHeight - kBottomHeight, width, kBottomHeight),
                QFrame::Raised);

  yes_no_ = new QWidget(bottom);
  yes_no_->setObjectName("Panel_Button_Yes");
  yes_no_->setGeometry(width / 2 - 153 / 2, 7, 153, 34);
  auto* yes = new QPushButton(ToQString(kDialogYes), yes_no_);
  yes->setObjectName("Btn_Yes");
  yes->setGeometry(0, 4, 75, 26);
  auto* no = new QPushButton(ToQString(kDialogNo), yes_no_);
  no->setObjectName("Btn_No");
  no->setGeometry(78, 4, 75, 26);
  ok_ = new QWidget(bottom);
  ok_->setObjectName("Panel_Button_Ok");
  ok_->setGeometry(width / 2 - 86 / 2, 7, 86, 34);
  auto* ok = new QPushButton(ToQString(kDialogOk), ok_);
  ok->setObjectName("Btn_Ok");
  ok->setGeometry(5, 4, 75, 26);
  yes_no_->setVisible(question);
  ok_->setVisible(!question);

  connect(yes, &QPushButton::clicked, this, [this] { Answer(DialogResult::kYes); });
  connect(no, &QPushButton::clicked, this, [this] { Answer(DialogResult::kNo); });
  connect(ok, &QPushButton::clicked, this, [this] { Answer(DialogResult::kOk); });
  CentreOnScreen(*this);
}

void ModalDialog::Answer(DialogResult result) {
  result_ = result;
  accept();
}

}  // namespace quorvane
