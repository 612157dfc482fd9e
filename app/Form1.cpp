// The window and its controls as designed: positions and sizes in twips,
// converted to pixels; captions, tool tips, fonts and the focus order.
#include "Form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "BackupsWindow.h"
#include "Startup.h"
#include "Twips.h"
#include "excel/Excel.h"

namespace pendra::app {

namespace {

constexpr int kClientWidthTwips = 8010;
constexpr int kClientHeightTwips = 4110;

QFont DesignFont(double points, bool bold) {
  QFont font(QString::fromUtf8(kWindowFontFamily));
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

void Place(QWidget* control, int left, int top, int width, int height) {
  control->setGeometry(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                       TwipsToPixels(height));
}

QPushButton* Button(QWidget* form, const char* name, const char* caption, double points,
                    bool bold) {
  auto* button = new QPushButton(QString::fromUtf8(caption), form);
  button->setObjectName(QString::fromLatin1(name));
  button->setFont(DesignFont(points, bold));
  // Enter clicks the focused button, as on the desktop this tool comes from.
  button->setAutoDefault(true);
  return button;
}

QLabel* Label(QWidget* form, int index, const char* caption) {
  auto* label = new QLabel(QString::fromUtf8(caption), form);
  label->setObjectName(QStringLiteral("Label1_%1").arg(index));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

// The labels were sized for the font the design was measured with; the
// substitute runs a little wider, and the first warning line would lose its
// last character. Tightening the letter spacing by a fraction of a pixel
// keeps the designed place and point size and shows the whole text.
void FitTextToWidth(QLabel* label) {
  QFont font = label->font();
  for (int tenths = 0; tenths <= 10; ++tenths) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, -tenths / 10.0);
    if (QFontMetricsF(font).horizontalAdvance(label->text()) <= label->width()) {
      if (tenths > 0) label->setFont(font);
      return;
    }
  }
}

}  // namespace

Form1::Form1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8("Pendra展開画面"));
  setFont(DesignFont(9, false));
  // A fixed client area; the frame cannot be dragged to another size.
  setFixedSize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));
  quit_ = [this] {
    // A job still at work is abandoned, not waited for: the process ends
    // now, its office instance with it (it dies with the job thread), the
    // open transaction is never committed, and a workbook being saved
    // never gets its name.
    if (jobThread_.Busy()) {
      // The save's hidden folder beside the target goes with the program.
      excel::RemoveUnfinishedSaveFolders();
      std::fflush(nullptr);
      std::_Exit(0);
    }
    QCoreApplication::exit(0);
  };
  progressDelay_ = new QTimer(this);
  progressDelay_->setSingleShot(true);
  progressDelay_->setInterval(500);
  progressDelay_->setTimerType(Qt::PreciseTimer);
  connect(progressDelay_, &QTimer::timeout, this, [this] { ShowProgressWindow(); });
  prepareSpare_ = excel::PrepareSpareInstance;
  dropSpare_ = excel::DropSpareInstance;
  CreateControls();
}

Form1::~Form1() {
  // A job still running (only where quitting was replaced, as in tests)
  // unwinds at its next request to the window; that request needs this
  // thread to answer it.
  ending_ = true;
  auto waitForJobThread = [this] {
    while (jobThread_.Busy()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(1);
    }
  };
  waitForJobThread();
  // The spare office ends on the thread that started it.
  if (keepOfficeReady_) {
    jobThread_.Start(dropSpare_);
    waitForJobThread();
  }
  if (waitPointer_) QGuiApplication::restoreOverrideCursor();
}

void Form1::CreateControls() {
  // Created in focus order, and the order is also set explicitly below.
  Command1 = Button(this, "Command1", "CSV展開実行", 12, true);
  Place(Command1, 7800, -120, 1995, 495);
  // The tag import's button exists but is never shown: hidden widgets take
  // neither clicks nor keyboard focus.
  Command1->setVisible(false);

  cmdSansyo = Button(this, "cmdSansyo", "参照", 9.75, false);
  Place(cmdSansyo, 7260, 2460, 555, 375);
  cmdSansyo->setToolTip(QString::fromUtf8("ﾏｽﾀｰ情報.csvを参照します。"));
  cmdSansyo->setCursor(QCursor(QPixmap(QStringLiteral(":/pendra/pointing-hand.xpm")), 12, 1));

  txtBackDbPath = new QLineEdit(this);
  txtBackDbPath->setObjectName(QStringLiteral("txtBackDbPath"));
  txtBackDbPath->setFont(DesignFont(9.75, false));
  Place(txtBackDbPath, 240, 2520, 6975, 315);
  txtBackDbPath->setToolTip(QString::fromUtf8("作成したﾏｽﾀｰ情報.csvを設定します。"));

  QLabel* label4 = Label(this, 4, "編集完了済みPendra情報.xlsを指定します。");
  label4->setFont(DesignFont(12, false));
  Place(label4, 300, 2160, 4500, 240);
  label1_[4] = label4;

  Command2 = Button(this, "Command2", "終了", 12, true);
  Place(Command2, 6300, 3120, 1455, 495);
  Command3 = Button(this, "Command3", "展開実行", 12, true);
  Place(Command3, 4680, 3120, 1455, 495);
  Command4 = Button(this, "Command4", "Pendra情報.xlsファイルの作成", 12, true);
  Place(Command4, 300, 1020, 7455, 495);

  // The two-line warning at the top, in red, in the window's own font.
  QLabel* label0 =
      Label(this, 0, "Windows7をご使用の場合、このツールを使用する前にTessaly.exeの");
  Place(label0, 1260, 180, 5190, 180);
  QLabel* label1 = Label(this, 1, "プロパティを開き、互換モードにチェックをいれておく必要があります。");
  Place(label1, 1260, 420, 5190, 180);
  for (QLabel* red : {label0, label1}) {
    QPalette palette = red->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    red->setPalette(palette);
  }
  label1_[0] = label0;
  label1_[1] = label1;
  for (QLabel* label : {label0, label1, label4}) FitTextToWidth(label);

  setTabOrder(Command1, cmdSansyo);
  setTabOrder(cmdSansyo, txtBackDbPath);
  setTabOrder(txtBackDbPath, Command2);
  setTabOrder(Command2, Command3);
  setTabOrder(Command3, Command4);
  // Command1 comes first but cannot take focus, so focus starts here.
  cmdSansyo->setFocus();

  // The backups window hides behind the right mouse button: the window's
  // designed face stays as it is.
  auto* backups = new QAction(QString::fromUtf8("バックアップと復元..."), this);
  backups->setObjectName(QStringLiteral("openBackups"));
  connect(backups, &QAction::triggered, this, [this] { OpenBackupsWindow(); });
  addAction(backups);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  connect(Command1, &QPushButton::clicked, this, [this] { RunJobHandler([this] { Command1_Click(); }); });
  connect(cmdSansyo, &QPushButton::clicked, this, [this] { RunJobHandler([this] { cmdSansyo_Click(); }); });
  connect(Command2, &QPushButton::clicked, this, [this] { RunHandler([this] { Command2_Click(); }); });
  connect(Command3, &QPushButton::clicked, this, [this] { RunJobHandler([this] { Command3_Click(); }); });
  connect(Command4, &QPushButton::clicked, this, [this] { RunJobHandler([this] { Command4_Click(); }); });
}

void Form1::OpenBackupsWindow() {
  // Reading the backups runs an event loop: a second request meanwhile
  // must not make a second window.
  if (ending_ || openingBackups_) return;
  if (backupsWindow_ == nullptr) {
    openingBackups_ = true;
    struct Opened {
      bool& opening;
      ~Opened() { opening = false; }
    } opened{openingBackups_};
    backupsWindow_ = new BackupsWindow(QString::fromStdString(BaseFolder()),
                                       [this](QWidget* parent, const QString& prompt, MsgBoxButtons buttons,
                                              const QString& title) { return messageBox_(parent, prompt, buttons, title); },
                                       [this] { return jobThread_.Busy() || busy_; }, this);
  } else {
    backupsWindow_->Reload();
  }
  backupsWindow_->show();
  backupsWindow_->raise();
  backupsWindow_->activateWindow();
}

QLabel* Form1::Label1(int index) const {
  const auto found = label1_.find(index);
  return found == label1_.end() ? nullptr : found->second;
}

double Form1::Left() const { return PixelsToTwips(pos().x()); }
double Form1::Top() const { return PixelsToTwips(pos().y()); }
double Form1::Width() const { return PixelsToTwips(frameGeometry().width()); }
double Form1::Height() const { return PixelsToTwips(frameGeometry().height()); }

void Form1::BringToFront() {
  if (ending_) return;
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

void Form1::closeEvent(QCloseEvent* event) {
  // Closing the window ends the program at once, also in the middle of a
  // job paused in DoEvents (which then unwinds).
  event->accept();
  EndProgram();
}

}  // namespace pendra::app
