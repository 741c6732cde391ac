// The Qt windows on the offscreen platform, checked on grabbed images: what a
// person would see, not just the widgets' state.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "ui/hermetic_folder.h"
#include "ui/qt_ui.h"
#include "ui/qt_windows.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;

// Windows without a display: this program's gui tests always run offscreen.
const bool kOffscreen = ::setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0;

std::uint32_t g_now = 0;
std::uint32_t FakeTick() {
  return g_now;
}

bool IsInk(QRgb pixel) {
  return qGray(pixel) < 100;
}

// Horizontal extent of the dark (text) pixels inside `area` of `image`:
// {first column, last column}, or {-1, -1} when there are none.
std::pair<int, int> InkColumns(const QImage& image, const QRect& area) {
  int first = -1;
  int last = -1;
  for (int x = area.left(); x <= area.right(); ++x)
    for (int y = area.top(); y <= area.bottom(); ++y)
      if (IsInk(image.pixel(x, y))) {
        if (first < 0) first = x;
        last = x;
        break;
      }
  return {first, last};
}

int InkPixels(const QImage& image, const QRect& area) {
  int count = 0;
  for (int x = area.left(); x <= area.right(); ++x)
    for (int y = area.top(); y <= area.bottom(); ++y)
      count += IsInk(image.pixel(x, y));
  return count;
}

QRect AreaIn(const QWidget* child, const QWidget* window) {
  return QRect(child->mapTo(window, QPoint(0, 0)), child->size());
}

class QtWindowsTest : public HermeticFolderTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOffscreen);
    HermeticFolderTest::SetUp();
    g_now = 1'000'000;
    ui_ = std::make_unique<QtInstallationUi>(FakeTick);
  }
  void TearDown() override {
    ui_.reset();
    HermeticFolderTest::TearDown();
  }
  template <typename T = QLabel>
  T* Child(WindowRef window, const char* name) {
    T* child = ui_->Widget(window)->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QImage Grab(WindowRef window) {
    return ui_->Widget(window)->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  // The label's text is on screen in full: its ink spans the text's own width.
  void ExpectShown(WindowRef window, const char* name, const std::string& text) {
    QLabel* label = Child(window, name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(FromQString(label->text()), text) << name;
    const QImage image = Grab(window);
    const auto [first, last] = InkColumns(image, AreaIn(label, ui_->Widget(window)));
    const int ink = QFontMetrics(label->font()).tightBoundingRect(ToQString(text)).width();
    EXPECT_GE(first, 0) << name << " shows nothing";
    EXPECT_NEAR(last - first + 1, ink, 3) << name << ": text cut or missing";
  }

  std::unique_ptr<QtInstallationUi> ui_;
};

TEST_F(QtWindowsTest, ConnectingWindowShowsConnectingOnItsMiddleLine) {
  WindowRef window = ui_->ShowConnectingWindow();
  QWidget* widget = ui_->Widget(window);
  ASSERT_NE(widget, nullptr);
  EXPECT_TRUE(widget->isVisible());
  EXPECT_EQ(widget->size(), QSize(266, 61));
  EXPECT_TRUE(widget->windowFlags() & Qt::WindowStaysOnTopHint);
  const QPoint screen_centre = QGuiApplication::primaryScreen()->geometry().center();
  EXPECT_LE((widget->geometry().center() - screen_centre).manhattanLength(), 2);
  ExpectShown(window, "Label2", "Connecting ...");
  const QImage image = Grab(window);
  // The labels overlap by a few rows; look where only the empty ones are.
  const QRect middle = AreaIn(Child(window, "Label2"), widget);
  const QRect top = AreaIn(Child(window, "Label3"), widget);
  const QRect bottom = AreaIn(Child(window, "Label1"), widget);
  EXPECT_GT(InkPixels(image, middle), 0);
  EXPECT_EQ(InkPixels(image, QRect(top.topLeft(), QPoint(top.right(), middle.top() - 1))), 0);
  EXPECT_EQ(
      InkPixels(image, QRect(QPoint(bottom.left(), middle.bottom() + 1), bottom.bottomRight())), 0);
  ui_->CloseConnectingWindow(window);
  EXPECT_EQ(window, kNoWindow);
}

TEST_F(QtWindowsTest, StatusWindowPushesLinesUpAtTheTopLeftCorner) {
  WindowRef worker_window = 99;
  std::thread([&] { worker_window = ui_->OpenStatusWindow(); }).join();
  EXPECT_EQ(worker_window, kNoWindow);

  WindowRef window = ui_->OpenStatusWindow();
  ASSERT_NE(window, kNoWindow);
  EXPECT_EQ(ui_->Widget(window)->pos(), QPoint(10, 10));
  ui_->PushStatusLine(window, "Fermeture connexion sortante N°:3"_w);
  ui_->PushStatusLine(window, "Fermeture connexion sortante N°:2"_w);
  ui_->PushStatusLine(window, "<b>1</b>");  // shown as typed, never as markup
  ExpectShown(window, "Label3", "Fermeture connexion sortante N°:3"_w);
  ExpectShown(window, "Label2", "Fermeture connexion sortante N°:2"_w);
  ExpectShown(window, "Label1", "<b>1</b>");
  ui_->PushStatusLine(kNoWindow, "ignored");
}

TEST_F(QtWindowsTest, DownloadWindowInFrench) {
  SetLanguage(kLanguageFrench);
  WindowRef window = ui_->OpenDownloadWindow(false);
  QWidget* widget = ui_->Widget(window);
  EXPECT_EQ(widget->size(), QSize(463, 325));
  EXPECT_EQ(widget->windowTitle(), "Quorvane installation");
  ExpectShown(window, "Label_Title_Explain",
              "Processus d'installation de Quorvane en cours, patientez ...");
  ExpectShown(window, "Label_Installation", "Avancement de l'installation :");
  ExpectShown(window, "Label_DB", "Mise à jour de la base de données"_w);
  ExpectShown(window, "Label_Service", "Agencement des services");
  ExpectShown(window, "Label_Kernel", "Mise en place du noyau");

  g_now += 10'999;
  ui_->UpdateDownloadProgress(window, 1'000'000, 123'450, 5, 1);
  ExpectShown(window, "Label_Time_Yet", "Temps restant :00:01:11");
  ExpectShown(window, "Label_Files_On_Total", "1 fichiers sur 5");
  ExpectShown(window, "Label_Position_On_Total", "123 ko/1000");
}

TEST_F(QtWindowsTest, DownloadWindowInEnglish) {
  SetLanguage(kLanguageEnglish);
  WindowRef window = ui_->OpenDownloadWindow(false);
  ExpectShown(window, "Label_Title_Explain",
              "Processing installation of Quorvane, please wait ...");
  ExpectShown(window, "Label_Installation", "Installation progress");
  ExpectShown(window, "Label_DB", "Installing database");
  ExpectShown(window, "Label_Service", "Installing packages");
  ExpectShown(window, "Label_Kernel", "Installing kernel");
  // In the first second the speed is 0 and the remaining time 00:00:00.
  ui_->UpdateDownloadProgress(window, 56'789'000, 1'234'567, 10, 3);
  EXPECT_EQ(FromQString(Child(window, "Label_Debit")->text()), "   0.000  ko/s");
  ExpectShown(window, "Label_Time_Yet", "Time :00:00:00");
  ExpectShown(window, "Label_Files_On_Total", "3 files of 10");
  ExpectShown(window, "Label_Position_On_Total", "1234 ko/56789");
}

TEST_F(QtWindowsTest, PhaseLabelTurnsBold) {
  WindowRef window = ui_->OpenDownloadWindow(false);
  QWidget* widget = ui_->Widget(window);
  QLabel* db = Child(window, "Label_DB");
  QLabel* service = Child(window, "Label_Service");
  const QImage phase1 = Grab(window);
  ui_->SetDownloadPhase(window, 2);
  const QImage phase2 = Grab(window);
  ui_->SetDownloadPhase(window, 9);  // not a phase: nothing changes
  EXPECT_EQ(Grab(window), phase2);

  // Bold text is darker and wider: compare the same label before and after.
  const QRect db_area = AreaIn(db, widget);
  const QRect service_area = AreaIn(service, widget);
  EXPECT_GT(InkPixels(phase1, db_area), InkPixels(phase2, db_area) * 11 / 10);
  EXPECT_GT(InkPixels(phase2, service_area), InkPixels(phase1, service_area) * 11 / 10);
  EXPECT_GT(InkColumns(phase2, service_area).second, InkColumns(phase1, service_area).second);
  EXPECT_TRUE(service->font().bold());
  EXPECT_FALSE(db->font().bold());
  EXPECT_FALSE(Child(window, "Label_Kernel")->font().bold());
}

// The last column of the bar's dark right edge, or -1. The row is below the
// percent text (whose anti-aliased greys could match) and above the rounded
// corner, where the lower-right half of the bar is drawn in the dark colour.
int BarEdge(const QImage& gauge) {
  const QRgb dark = QApplication::palette().color(QPalette::Dark).rgb();
  const int row = gauge.height() - 5;
  int edge = -1;
  for (int x = 2; x < gauge.width() - 2; ++x)
    if (gauge.pixel(x, row) == dark) edge = x;
  return edge;
}

TEST_F(QtWindowsTest, GaugesFillToTheirPercent) {
  WindowRef window = ui_->OpenDownloadWindow(false);
  QWidget* widget = ui_->Widget(window);
  QWidget* item = Child<QWidget>(window, "Image_ProgressItem");
  const QRect area = AreaIn(item, widget);
  ASSERT_EQ(area.size(), QSize(395, 23));

  struct Case {
    std::uint64_t received;
    int edge;  // inner left 2 + 391 * percent / 100, minus one for GDI's open edge
  } cases[] = {{0, -1}, {37, 2 + 144 - 1}, {100, 2 + 391 - 1}};
  for (const Case& c : cases) {
    ui_->UpdateItemProgress(window, 100, c.received);
    const QImage gauge = Grab(window).copy(area);
    EXPECT_EQ(BarEdge(gauge), c.edge) << c.received << "%";
    // The percent is written in black, centred.
    const auto [first, last] = InkColumns(gauge, QRect(2, 2, 391, 19));
    ASSERT_GE(first, 0) << c.received << "%";
    EXPECT_NEAR((first + last) / 2.0, 197.5, 2.0);
  }
  // 30 MB of 60 MB: computed in 64 bits, half the bar, not beyond its rectangle.
  ui_->UpdateItemProgress(window, 60'000'000, 30'000'000);
  EXPECT_EQ(BarEdge(Grab(window).copy(area)), 2 + 195 - 1);
}

TEST_F(QtWindowsTest, OverallGaugeKeepsItsLastValueWhenDone) {
  WindowRef window = ui_->OpenDownloadWindow(false);
  const QRect area = AreaIn(Child<QWidget>(window, "Image_Progress"), ui_->Widget(window));
  ui_->UpdateDownloadProgress(window, 1000, 370, 3, 2);
  EXPECT_EQ(BarEdge(Grab(window).copy(area)), 2 + 144 - 1);
  ui_->UpdateDownloadProgress(window, 1000, 1000, 3, 3);
  EXPECT_EQ(BarEdge(Grab(window).copy(area)), 2 + 144 - 1);
  for (const char* name :
       {"Label_Debit", "Label_Time_Yet", "Label_Position_On_Total", "Label_Files_On_Total"})
    EXPECT_TRUE(Child(window, name)->text().isEmpty()) << name;
}

TEST_F(QtWindowsTest, SearchGaugeIsTooLowForText) {
  WindowRef window = ui_->OpenSearchWindow();
  QWidget* widget = ui_->Widget(window);
  EXPECT_FALSE(widget->isVisible());
  ui_->ShowSearchWindow(window);
  EXPECT_TRUE(widget->isVisible());
  EXPECT_EQ(widget->size(), QSize(246, 59));
  ExpectShown(window, "Label_Message", "Searching optimal server ");
  ui_->SetSearchProgress(window, 50);
  QWidget* gauge = Child<QWidget>(window, "Image_Progress");
  const QImage image = Grab(window).copy(AreaIn(gauge, widget));
  ASSERT_EQ(image.size(), QSize(161, 17));
  EXPECT_EQ(InkPixels(image, QRect(2, 2, 157, 13)), 0);
  EXPECT_EQ(BarEdge(image), 2 + 157 * 50 / 100 - 1);
  ui_->CloseSearchWindow(window);
  EXPECT_EQ(ui_->Widget(window), nullptr);
}

TEST_F(QtWindowsTest, HiddenDownloadWindowIsUpdatedButNeverShown) {
  WindowRef window = ui_->OpenDownloadWindow(true);
  QWidget* widget = ui_->Widget(window);
  ui_->SetDownloadPhase(window, 3);
  ui_->UpdateDownloadProgress(window, 1000, 500, 4, 2);
  ui_->UpdateItemProgress(window, 10, 5);
  ui_->ProcessMessages();
  EXPECT_FALSE(widget->isVisible());
  EXPECT_EQ(FromQString(Child(window, "Label_Files_On_Total")->text()), "2 files of 4");
  const QRect area = AreaIn(Child<QWidget>(window, "Image_Progress"), widget);
  EXPECT_EQ(BarEdge(Grab(window).copy(area)), 2 + 195 - 1);
}

TEST_F(QtWindowsTest, DownloadWindowOutlivesItsCloseBox) {
  WindowRef window = ui_->OpenDownloadWindow(false);
  QWidget* widget = ui_->Widget(window);
  EXPECT_FALSE(widget->close());
  ui_->ProcessMessages();
  EXPECT_TRUE(widget->isVisible());
  EXPECT_EQ(ui_->OpenDownloadWindow(false), window);
  ui_->CloseDownloadWindow(window);
  EXPECT_EQ(window, kNoWindow);
  EXPECT_NE(ui_->OpenDownloadWindow(false), kNoWindow);
}

TEST_F(QtWindowsTest, EmptyReferencesDoNothing) {
  WindowRef none = kNoWindow;
  ui_->SetDownloadPhase(none, 2);
  ui_->UpdateDownloadProgress(none, 10, 5, 2, 1);
  ui_->UpdateItemProgress(none, 10, 5);
  ui_->CloseDownloadWindow(none);
  ui_->CloseConnectingWindow(none);
  WindowRef connecting = ui_->ShowConnectingWindow();
  ui_->SetDownloadPhase(connecting, 2);  // not a download window
  EXPECT_NE(ui_->Widget(connecting), nullptr);
  EXPECT_EQ(none, kNoWindow);
}

TEST_F(QtWindowsTest, DialogWidthFollowsItsText) {
  ModalDialog short_dialog(kColourButtonFace, "Server not found", "check", false);
  EXPECT_EQ(short_dialog.width(), 250);
  EXPECT_EQ(short_dialog.height(), 112);
  const std::string long_text(80, 'W');
  ModalDialog long_dialog(kColourButtonFace, "Caption", long_text, true);
  const int text_width = QFontMetrics(long_dialog.font()).horizontalAdvance(ToQString(long_text));
  ASSERT_GT(text_width + 70, 250);
  EXPECT_EQ(long_dialog.width(), text_width + 70);
  EXPECT_EQ(long_dialog.Message()->width(), long_dialog.width());
  EXPECT_EQ(FromQString(long_dialog.Message()->text()), "   " + long_text + "   ");

  // The visible button panel is centred; the other one is hidden.
  short_dialog.show();
  EXPECT_TRUE(short_dialog.findChild<QWidget*>("Panel_Button_Ok")->isVisible());
  EXPECT_FALSE(short_dialog.findChild<QWidget*>("Panel_Button_Yes")->isVisible());
  EXPECT_EQ(short_dialog.VisibleButtons()->x(), 250 / 2 - 86 / 2);
  EXPECT_EQ(long_dialog.VisibleButtons()->x(), long_dialog.width() / 2 - 153 / 2);
  const QImage image = short_dialog.grab().toImage();
  const QRect message(QPoint(0, 25), QSize(250, 13));
  EXPECT_GT(InkPixels(image, message), 0);
}

// Clicks a button of the dialog that is about to run modally.
void ClickLater(const char* button) {
  QTimer::singleShot(0, [button] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QPushButton*>(button)->click();
  });
}

TEST_F(QtWindowsTest, DialogsAnswerWithTheButtonPressed) {
  ClickLater("Btn_Yes");
  EXPECT_EQ(ui_->AskQuestionDialog(kColourButtonFace, "Confirmation", "Remplacer ?"),
            DialogResult::kYes);
  ClickLater("Btn_No");
  EXPECT_EQ(ui_->AskQuestionDialog(kColourButtonFace, "Confirmation", "Remplacer ?"),
            DialogResult::kNo);
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_EQ(ui_->AskQuestionDialog(kColourButtonFace, "Confirmation", "Remplacer ?"),
            DialogResult::kNone);
  ClickLater("Btn_Ok");
  ui_->ShowMessageDialog(RgbColour(255, 255, 0), "Erreur logicielle", "Texte");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace quorvane
