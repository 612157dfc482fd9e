// The browse button and the output button's dialog steps: the path box,
// the proposal, Cancel, the initial folder, and the window leaving the
// topmost band around the dialog. The dialog is answered by script; the
// last tests drive Qt's real dialog the way a person would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "FormFixture.h"
#include "Startup.h"
#include "WindowPos.h"
#include "core/PlatformError.h"

namespace pendra::app::test {
namespace {

const QString kProposal = QString::fromUtf8("Pendra情報.xls");

using FileSelection = FormFixture;

TEST_F(FileSelection, ChoicePutsTheFullPathIntoThePathBox) {
  form->Form_Load();
  form->txtBackDbPath->setText("/old/choice.xls");
  const QString chosen = QString::fromUtf8("/srv/マスター/編集済み Pendra情報.xls");
  AnswerDialog(chosen);
  form->cmdSansyo->click();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(form->txtBackDbPath->text(), chosen);
  EXPECT_EQ(form->PathBoxText(), chosen.toStdString());
  EXPECT_EQ(dialogs[0].request.title, QString::fromUtf8("タグマスター情報"));
  EXPECT_EQ(dialogs[0].request.filter, "*.xls");
  EXPECT_EQ(dialogs[0].request.fileName, kProposal);
  EXPECT_TRUE(messages.empty());
}

TEST_F(FileSelection, WindowLeavesTheBandForTheDialogAndReturnsAfterIt) {
  form->Form_Load();
  ASSERT_TRUE(IsTopmost(form.get()));
  AnswerDialog(QStringLiteral("/a/b.xls"));
  form->cmdSansyo->click();
  AnswerDialog(std::nullopt);
  form->cmdSansyo->click();
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_FALSE(dialogs[0].topmostWhileOpen);
  EXPECT_FALSE(dialogs[1].topmostWhileOpen);
  EXPECT_TRUE(IsTopmost(form.get()));
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->size(), QSize(534, 274));
}

TEST_F(FileSelection, CancelKeepsTheEarlierPath) {
  form->Form_Load();
  AnswerDialog(QStringLiteral("/first/choice.xls"));
  form->cmdSansyo->click();
  AnswerDialog(std::nullopt);
  form->cmdSansyo->click();
  EXPECT_EQ(form->txtBackDbPath->text(), "/first/choice.xls");
  EXPECT_TRUE(messages.empty());
}

TEST_F(FileSelection, TheProposalComesBackOnEveryClick) {
  form->Form_Load();
  AnswerDialog(QStringLiteral("/a/other.xls"));
  form->cmdSansyo->click();
  EXPECT_EQ(form->cdlDb.FileName(), "/a/other.xls");
  form->cmdSansyo->click();
  AnswerDialog(QStringLiteral("/b/third.xls"));
  form->Command4->click();
  form->cmdSansyo->click();
  ASSERT_EQ(dialogs.size(), 4u);
  for (const ShownDialog& d : dialogs) EXPECT_EQ(d.request.fileName, kProposal);
}

TEST_F(FileSelection, AFailingDialogStillFillsThePathBoxWithTheProposal) {
  form->Form_Load();
  form->txtBackDbPath->setText("/earlier.xls");
  form->cdlDb.SetDialog([](QWidget*, const OpenDialogRequest&) -> std::optional<QString> {
    Raise(err::kInvalidProcedureCall);
  });
  form->cmdSansyo->click();
  // Only Cancel keeps the path box; any other failure of the dialog is
  // passed over and the name the control holds is copied.
  EXPECT_EQ(form->txtBackDbPath->text(), kProposal);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(IsTopmost(form.get()));
}

TEST_F(FileSelection, BrowseStartsInTheBaseFolderOnlyAfterTheOutputDialog) {
  form->Form_Load();
  form->cmdSansyo->click();
  form->Command4->click();  // cancelled
  form->cmdSansyo->click();
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_TRUE(dialogs[0].request.initDir.isEmpty());
  EXPECT_EQ(dialogs[1].request.initDir, baseFolder.path());
  EXPECT_EQ(dialogs[2].request.initDir, baseFolder.path());
}

TEST_F(FileSelection, OutputCancelRunsNoJob) {
  form->Form_Load();
  form->Command4->click();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_FALSE(dialogs[0].topmostWhileOpen);
  EXPECT_TRUE(outputs.empty());
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(IsTopmost(form.get()));
}

TEST_F(FileSelection, OutputChoiceRunsTheJobOutsideTheBandWithTheChosenName) {
  form->Form_Load();
  form->txtBackDbPath->setText("/not/used.xls");
  const QString target = QString::fromUtf8("/home/u/出力/Pendra情報.xls");
  AnswerDialog(target);
  form->Command4->click();
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(outputs[0], target.toStdString());
  EXPECT_FALSE(topmostDuringOutput[0]);
  EXPECT_TRUE(IsTopmost(form.get()));
  EXPECT_EQ(dialogs[0].request.fileName, kProposal);
  EXPECT_EQ(dialogs[0].request.title, QString::fromUtf8("タグマスター情報"));
  // The output button leaves the path box alone.
  EXPECT_EQ(form->txtBackDbPath->text(), "/not/used.xls");
}

TEST_F(FileSelection, AnErrorEscapingTheOutputJobIsShownAndTheWindowReturnsToTheBand) {
  form->Form_Load();
  AnswerDialog(QStringLiteral("/t.xls"));
  outputBody = [](UserInterface&) { Raise(err::kPathNotFound); };
  form->Command4->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "Pendra_Set");
  EXPECT_TRUE(messages[0].prompt.contains("76"));
  EXPECT_TRUE(IsTopmost(form.get()));
  EXPECT_EQ(quits, 0);
}

// ---- Qt's own dialog, driven like a person would ------------------------------

class RealDialog : public ::testing::Test {
 protected:
  // Runs `act` on the dialog once it is open.
  void WhenOpen(std::function<void(QFileDialog*)> act) {
    QTimer::singleShot(0, [act, this] { Poll(act, 200); });
  }

 private:
  void Poll(std::function<void(QFileDialog*)> act, int triesLeft) {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      act(dialog);
      return;
    }
    if (triesLeft > 0) QTimer::singleShot(20, [act, this, triesLeft] { Poll(act, triesLeft - 1); });
  }
};

TEST_F(RealDialog, AcceptsANameThatDoesNotExistYet) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  CommonDialog cdl;
  cdl.SetFileName(kProposal);
  cdl.SetInitDir(folder.path());
  QString title, directory;
  QStringList filters;
  QString proposed;
  WhenOpen([&](QFileDialog* dialog) {
    title = dialog->windowTitle();
    filters = dialog->nameFilters();
    directory = dialog->directory().absolutePath();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    proposed = name->text();
    name->setText(QString::fromUtf8("新しい名前.xls"));
    static_cast<QDialog*>(dialog)->accept();  // the "Open" button
  });
  cdl.ShowOpen(nullptr);
  EXPECT_EQ(title, QString::fromUtf8("タグマスター情報"));
  EXPECT_EQ(filters, QStringList{"*.xls"});
  EXPECT_EQ(directory, QDir(folder.path()).absolutePath());
  EXPECT_EQ(proposed, kProposal);
  EXPECT_EQ(cdl.FileName(), QDir(folder.path()).absoluteFilePath(QString::fromUtf8("新しい名前.xls")));
}

TEST_F(RealDialog, CancelIsReportedAsFailure32755AndKeepsTheName) {
  CommonDialog cdl;
  cdl.SetFileName(kProposal);
  WhenOpen([](QFileDialog* dialog) { dialog->reject(); });
  try {
    cdl.ShowOpen(nullptr);
    FAIL() << "Cancel did not fail";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), 32755);
    EXPECT_EQ(e.Description(), "[キャンセル] が選択されました。");
  }
  EXPECT_EQ(cdl.FileName(), kProposal);
}

TEST_F(RealDialog, SpeaksJapaneseInAProportionalJapaneseFontWhateverTheLocale) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  CommonDialog cdl;
  QString nameLabel, cancel;
  QFont font;
  WhenOpen([&](QFileDialog* dialog) {
    if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("fileNameLabel"))) nameLabel = label->text();
    if (auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
      if (QPushButton* button = box->button(QDialogButtonBox::Cancel)) cancel = button->text();
    font = dialog->font();
    dialog->reject();
  });
  EXPECT_THROW(cdl.ShowOpen(nullptr), PlatformError);
  QLocale::setDefault(before);
  EXPECT_TRUE(nameLabel.contains(QString::fromUtf8("ファイル名"))) << nameLabel.toStdString();
  EXPECT_EQ(cancel, QString::fromUtf8("キャンセル"));
  const QFontInfo shown(font);
  EXPECT_EQ(shown.family(), QString::fromLatin1(kSubstituteFamily));
  EXPECT_FALSE(shown.fixedPitch());
}

}  // namespace
}  // namespace pendra::app::test
