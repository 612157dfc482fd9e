// Twips to pixels, and the topmost placement on a real window.
#include <gtest/gtest.h>

#include <QWidget>
#include <QWindow>

#include "FormFixture.h"
#include "Twips.h"
#include "WindowPos.h"

namespace pendra::app::test {
namespace {

TEST(TwipsToPixels, DividesByFifteen) {
  EXPECT_EQ(TwipsToPixels(8010), 534);
  EXPECT_EQ(TwipsToPixels(4110), 274);
  EXPECT_EQ(TwipsToPixels(0), 0);
  EXPECT_EQ(TwipsToPixels(15), 1);
}

TEST(TwipsToPixels, RoundsToNearest) {
  EXPECT_EQ(TwipsToPixels(7), 0);     // 0.467
  EXPECT_EQ(TwipsToPixels(8), 1);     // 0.533
  EXPECT_EQ(TwipsToPixels(22), 1);    // 1.467
  EXPECT_EQ(TwipsToPixels(23), 2);    // 1.533
  EXPECT_EQ(TwipsToPixels(7.4), 0);
  EXPECT_EQ(TwipsToPixels(7.6), 1);
}

TEST(TwipsToPixels, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(TwipsToPixels(7.5), 0);    // 0.5
  EXPECT_EQ(TwipsToPixels(22.5), 2);   // 1.5
  EXPECT_EQ(TwipsToPixels(37.5), 2);   // 2.5
  EXPECT_EQ(TwipsToPixels(52.5), 4);   // 3.5
  EXPECT_EQ(TwipsToPixels(1507.5), 100);  // 100.5
}

TEST(TwipsToPixels, NegativePositionsKeepTheirSign) {
  EXPECT_EQ(TwipsToPixels(-120), -8);
  EXPECT_EQ(TwipsToPixels(-7), 0);
  EXPECT_EQ(TwipsToPixels(-8), -1);
  EXPECT_EQ(TwipsToPixels(-7.5), 0);     // -0.5
  EXPECT_EQ(TwipsToPixels(-22.5), -2);   // -1.5
  EXPECT_EQ(TwipsToPixels(-37.5), -2);   // -2.5
  EXPECT_EQ(TwipsToPixels(-52.5), -4);   // -3.5
}

using Placement = FormFixture;

TEST_F(Placement, StartUpShowsTheWindowInTheTopmostBandAtItsDesignedSize) {
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(IsTopmost(form.get()));
  form->Form_Load();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(IsTopmost(form.get()));
  EXPECT_EQ(form->size(), QSize(534, 274));
  EXPECT_TRUE(messages.empty());
}

TEST_F(Placement, LeavingAndEnteringTheBandKeepsTheNativeWindowAndItsPlace) {
  form->Form_Load();
  const WId native = form->winId();
  const QPoint place = form->pos();
  form->SetTopmost(false);
  EXPECT_FALSE(IsTopmost(form.get()));
  EXPECT_FALSE(form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(form->winId(), native);
  EXPECT_EQ(form->pos(), place);
  form->SetTopmost(true);
  EXPECT_TRUE(IsTopmost(form.get()));
  EXPECT_TRUE(form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(form->winId(), native);
  EXPECT_EQ(form->pos(), place);
  EXPECT_EQ(form->size(), QSize(534, 274));
}

TEST_F(Placement, GeometryIsReadInTwipsFromTheWindow) {
  form->move(33, 47);
  EXPECT_EQ(form->Left(), 495);
  EXPECT_EQ(form->Top(), 705);
  EXPECT_EQ(form->Width(), PixelsToTwips(form->frameGeometry().width()));
  EXPECT_EQ(form->Height(), PixelsToTwips(form->frameGeometry().height()));
}

TEST_F(Placement, NegativePositionsArePassedOnAndSizeIsIgnored) {
  SetWindowPos(form.get(), HWND_TOPMOST, -8, -5, 10, 10, SWP_NOSIZE | SWP_SHOWWINDOW);
  EXPECT_EQ(form->pos(), QPoint(-8, -5));
  EXPECT_EQ(form->size(), QSize(534, 274));
  EXPECT_TRUE(form->isVisible());
  // The placement of a window partly off the screen keeps it there.
  form->SetTopmost(false);
  EXPECT_EQ(form->pos(), QPoint(-8, -5));
}

TEST_F(Placement, OnlyTheBandValuesChangeTheTopmostState) {
  SetWindowPos(form.get(), HWND_TOPMOST, 10, 10, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetWindowPos(form.get(), HWND_TOP, 10, 10, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  EXPECT_TRUE(IsTopmost(form.get()));
  SetWindowPos(form.get(), HWND_NOTOPMOST, 10, 10, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  EXPECT_FALSE(IsTopmost(form.get()));
  EXPECT_FALSE(SetWindowPos(nullptr, HWND_TOPMOST, 0, 0, 0, 0, 65));
}

TEST(WindowPos, WithoutShowWindowAHiddenWindowStaysHidden) {
  QWidget window;
  SetWindowPos(&window, HWND_TOPMOST, 5, 6, 0, 0, SWP_NOSIZE);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.pos(), QPoint(5, 6));
  EXPECT_TRUE(IsTopmost(&window));
}

}  // namespace
}  // namespace pendra::app::test
