// The output dialog's folder and what becomes of the chosen name: a bare
// name gets ".xls", only the formats the job writes run it, and the
// dialog opens where the user can write.
#include <gtest/gtest.h>

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdlib>

#include "FormFixture.h"
#include "OutputTarget.h"

namespace pendra::app::test {
namespace {

TEST(OutputTarget, NamesAndFormats) {
  struct Case {
    const char* chosen;
    const char* target;
    bool accepted;
  };
  const Case cases[] = {
      {"/d/result", "/d/result.xls", true},
      {"/d/result.", "/d/result.xls", true},
      {"/d/Pendra情報.xls", "/d/Pendra情報.xls", true},
      {"/d/result.XLSX", "/d/result.XLSX", true},
      {"/d/result.ods", "/d/result.ods", true},
      {"/d.v2/result", "/d.v2/result.xls", true},  // a dot in the folder is no extension
      {"/d/result.txt", "/d/result.txt", false},
      {"/d/result.xlsm", "/d/result.xlsm", false},
      {"/d/result.csv", "/d/result.csv", false},
  };
  for (const Case& c : cases) {
    const QString target = WithWorkbookExtension(QString::fromUtf8(c.chosen));
    EXPECT_EQ(target, QString::fromUtf8(c.target)) << c.chosen;
    EXPECT_EQ(IsWorkbookFormat(target), c.accepted) << c.chosen;
  }
}

// HOME and XDG_CONFIG_HOME pointed at a private folder for one test.
class PrivateHome {
 public:
  PrivateHome() {
    for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("HOME", dir.path().toUtf8().constData(), 1);
    setenv("XDG_CONFIG_HOME", (dir.path() + "/.config").toUtf8().constData(), 1);
  }
  ~PrivateHome() {
    for (const auto& [name, value] : saved_) {
      if (value) setenv(name, value->c_str(), 1);
      else unsetenv(name);
    }
  }
  QTemporaryDir dir;

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(OutputTarget, DialogFolderIsTheBaseFolderWhereWritableElseDocumentsElseHome) {
  PrivateHome home;
  ASSERT_TRUE(home.dir.isValid());
  const QString base = home.dir.path() + "/base";
  ASSERT_TRUE(QDir().mkpath(base));
  // /proc/self cannot be written to, not even by root.
  const QString unwritable = QStringLiteral("/proc/self");

  EXPECT_EQ(OutputDialogFolder(base), base);
  EXPECT_EQ(OutputDialogFolder(unwritable), home.dir.path());
  EXPECT_EQ(OutputDialogFolder(home.dir.path() + "/missing"), home.dir.path());
  ASSERT_TRUE(QDir().mkpath(home.dir.path() + "/Documents"));
  EXPECT_EQ(OutputDialogFolder(unwritable), home.dir.path() + "/Documents");
}

using OutputChoice = FormFixture;

TEST_F(OutputChoice, ABareNameRunsTheJobAsXlsAndAnotherFormatIsRefusedBeforeAnything) {
  form->Form_Load();
  AnswerDialog(QStringLiteral("/d/result"));
  form->Command4->click();
  AnswerDialog(QStringLiteral("/d/result.txt"));
  form->Command4->click();
  EXPECT_EQ(outputs, std::vector<std::string>{"/d/result.xls"});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].prompt, QString::fromUtf8(kOutputFormatRefused));
  EXPECT_EQ(messages[0].buttons, MsgBoxButtons::OkOnly);
}

}  // namespace
}  // namespace pendra::app::test
