// The window and its controls against the design: captions, tool tips,
// places (twips / 15), fonts, colours, pointers, focus order.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QTest>

#include "FormFixture.h"

namespace pendra::app::test {
namespace {

using WindowLayout = FormFixture;

struct Designed {
  const char* name;
  int labelIndex;
  const char* text;
  const char* toolTip;
  QRect pixels;          // twips / 15 of the design
  double points;         // 0: the window's font (9 pt)
  bool bold;
  bool visible;
};

QWidget* ControlOf(Form1& form, const Designed& d) {
  if (d.labelIndex >= 0) return form.Label1(d.labelIndex);
  return form.findChild<QWidget*>(QString::fromLatin1(d.name));
}

QString TextOf(QWidget* w) {
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  return QStringLiteral("?");
}

const Designed kDesign[] = {
    // Left, Top, Width, Height in twips -> pixels.
    {"Command1", -1, "CSV展開実行", "", QRect(520, -8, 133, 33), 12, true, false},      // 7800 -120 1995 495
    {"cmdSansyo", -1, "参照", "ﾏｽﾀｰ情報.csvを参照します。", QRect(484, 164, 37, 25), 9.75, false, true},  // 7260 2460 555 375
    {"txtBackDbPath", -1, "", "作成したﾏｽﾀｰ情報.csvを設定します。", QRect(16, 168, 465, 21), 9.75, false, true},  // 240 2520 6975 315
    {"Label1_4", 4, "編集完了済みPendra情報.xlsを指定します。", "", QRect(20, 144, 300, 16), 12, false, true},  // 300 2160 4500 240
    {"Command2", -1, "終了", "", QRect(420, 208, 97, 33), 12, true, true},          // 6300 3120 1455 495
    {"Command3", -1, "展開実行", "", QRect(312, 208, 97, 33), 12, true, true},      // 4680 3120 1455 495
    {"Command4", -1, "Pendra情報.xlsファイルの作成", "", QRect(20, 68, 497, 33), 12, true, true},  // 300 1020 7455 495
    {"Label1_0", 0, "Windows7をご使用の場合、このツールを使用する前にTessaly.exeの", "", QRect(84, 12, 346, 12), 0, false, true},  // 1260 180 5190 180
    {"Label1_1", 1, "プロパティを開き、互換モードにチェックをいれておく必要があります。", "", QRect(84, 28, 346, 12), 0, false, true},  // 1260 420 5190 180
};

TEST_F(WindowLayout, WindowHasItsCaptionAndAFixedClientArea) {
  form->Form_Load();
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Pendra展開画面"));
  EXPECT_EQ(form->size(), QSize(534, 274));
  EXPECT_EQ(form->minimumSize(), QSize(534, 274));
  EXPECT_EQ(form->maximumSize(), QSize(534, 274));
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  form->resize(700, 400);
  EXPECT_EQ(form->size(), QSize(534, 274));
  EXPECT_EQ(form->font().family(), QString::fromUtf8("ＭＳ Ｐゴシック"));
  EXPECT_EQ(form->font().pointSizeF(), 9.0);
}

TEST_F(WindowLayout, EveryControlStandsWhereTheDesignPutsIt) {
  form->Form_Load();
  for (const Designed& d : kDesign) {
    SCOPED_TRACE(d.name);
    QWidget* w = ControlOf(*form, d);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget(), form.get());
    EXPECT_EQ(TextOf(w), QString::fromUtf8(d.text));
    EXPECT_EQ(w->toolTip(), QString::fromUtf8(d.toolTip));
    EXPECT_EQ(w->geometry(), d.pixels);
    EXPECT_EQ(w->isVisible(), d.visible);
    EXPECT_EQ(w->font().family(), QString::fromUtf8("ＭＳ Ｐゴシック"));
    EXPECT_EQ(w->font().pointSizeF(), d.points == 0 ? 9.0 : d.points);
    EXPECT_EQ(w->font().bold(), d.bold);
  }
  // Label1 is an array with the indices 0, 1 and 4 only.
  EXPECT_EQ(form->Label1(2), nullptr);
  EXPECT_EQ(form->Label1(3), nullptr);
  EXPECT_EQ(form->findChildren<QLabel*>().size(), 3);
}

TEST_F(WindowLayout, TheFontsRenderWithAProportionalJapaneseGothic) {
  for (QWidget* w : {static_cast<QWidget*>(form->Command4), static_cast<QWidget*>(form->Label1(0)),
                     static_cast<QWidget*>(form->txtBackDbPath)}) {
    EXPECT_EQ(QFontInfo(w->font()).family(), "IPAPGothic") << w->objectName().toStdString();
  }
  EXPECT_EQ(QFontInfo(QFont("MS PGothic")).family(), "IPAPGothic");
}

TEST_F(WindowLayout, WarningLinesAreRedAndThePathLabelUsesTheTextColour) {
  EXPECT_EQ(form->Label1(0)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(form->Label1(1)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(form->Label1(4)->palette().color(QPalette::WindowText),
            QApplication::palette(form->Label1(4)).color(QPalette::WindowText));
  EXPECT_NE(form->Label1(4)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

TEST_F(WindowLayout, EveryLabelShowsItsWholeText) {
  for (int index : {0, 1, 4}) {
    QLabel* label = form->Label1(index);
    EXPECT_LE(QFontMetricsF(label->font()).horizontalAdvance(label->text()), label->width())
        << index;
    EXPECT_GE(label->height(), QFontMetrics(label->font()).ascent()) << index;
  }
}

TEST_F(WindowLayout, PathBoxIsEmptyAtStart) {
  form->Form_Load();
  EXPECT_TRUE(form->txtBackDbPath->text().isEmpty());
  EXPECT_EQ(form->PathBoxText(), "");
}

TEST_F(WindowLayout, FocusStartsOnBrowseAndFollowsTheTabOrder) {
  form->Form_Load();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  EXPECT_EQ(QApplication::focusWidget(), form->cmdSansyo);
  const std::vector<QWidget*> order{form->txtBackDbPath, form->Command2, form->Command3,
                                    form->Command4, form->cmdSansyo};
  for (QWidget* expected : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), expected) << expected->objectName().toStdString();
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), form->Command4);
}

TEST_F(WindowLayout, TheImportButtonIsNeverSeenNorReachedByKeyboard) {
  form->Form_Load();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  EXPECT_FALSE(form->Command1->isVisible());
  for (int i = 0; i < 14; ++i) {
    QTest::keyClick(QApplication::focusWidget(), i < 7 ? Qt::Key_Tab : Qt::Key_Backtab);
    EXPECT_NE(QApplication::focusWidget(), form->Command1);
    EXPECT_NE(QApplication::focusWidget(), nullptr);
  }
  // Leaving and entering the topmost band does not bring it out either.
  form->SetTopmost(false);
  form->SetTopmost(true);
  EXPECT_FALSE(form->Command1->isVisible());
  EXPECT_EQ(tagImports, 0);
}

TEST_F(WindowLayout, EnterOnAFocusedButtonClicksIt) {
  form->Form_Load();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->Command3->setFocus();
  QTest::keyClick(form->Command3, Qt::Key_Return);
  EXPECT_EQ(expansions, 1);
}

TEST_F(WindowLayout, BrowseButtonHasItsOwnPointingHand) {
  const QCursor cursor = form->cmdSansyo->cursor();
  EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
  EXPECT_EQ(cursor.hotSpot(), QPoint(12, 1));
  const QImage image = cursor.pixmap().toImage();
  ASSERT_EQ(image.size(), QSize(32, 32));
  // The hot spot is the fingertip: an opaque pixel with nothing above it.
  EXPECT_GT(qAlpha(image.pixel(12, 1)), 0);
  EXPECT_EQ(qAlpha(image.pixel(12, 0)), 0);
  // Other controls keep the ordinary pointer.
  EXPECT_EQ(form->Command2->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(WindowLayout, WindowIconIsA32By32PictureIn16Colours) {
  const QImage icon(QStringLiteral(":/pendra/pendra-icon.xpm"));
  ASSERT_EQ(icon.size(), QSize(32, 32));
  QSet<QRgb> colours;
  int opaque = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const QRgb p = icon.pixel(x, y);
      if (qAlpha(p) == 0) continue;
      ++opaque;
      colours.insert(p);
    }
  }
  EXPECT_LE(colours.size(), 16);
  EXPECT_GE(colours.size(), 4);
  EXPECT_GT(opaque, 400);  // a picture, not a dot
  EXPECT_FALSE(QApplication::windowIcon().isNull());
  EXPECT_FALSE(form->windowIcon().isNull());
}

TEST(Translation, QtsOwnButtonsSpeakJapanese) {
  QMessageBox box(QMessageBox::NoIcon, "t", "p", QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains(QString::fromUtf8("はい")));
  EXPECT_TRUE(box.button(QMessageBox::No)->text().contains(QString::fromUtf8("いいえ")));
}

TEST(Application, NameAndVersion) {
  EXPECT_EQ(QApplication::applicationName(), "Pendra_Set");
  EXPECT_EQ(QApplication::applicationVersion(), "1.00");
}

}  // namespace
}  // namespace pendra::app::test
