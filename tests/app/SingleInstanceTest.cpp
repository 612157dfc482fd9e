// The single-instance rule: the lock itself, and the built program started
// twice as real processes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <cstdlib>

#include "Form1.h"
#include "RaiseListener.h"
#include "SingleInstance.h"

namespace pendra::app::test {
namespace {

TEST(LockFile, IsKeyedByTheExecutablesPath) {
  const std::string a = LockFilePath("/opt/a/Pendra_Set", "/run/user/1000");
  EXPECT_EQ(a, LockFilePath("/opt/a/Pendra_Set", "/run/user/1000"));
  EXPECT_NE(a, LockFilePath("/opt/b/Pendra_Set", "/run/user/1000"));
  EXPECT_EQ(a.rfind("/run/user/1000/", 0), 0u);
  // In the shared /tmp the user's id keeps users apart.
  const std::string shared = LockFilePath("/opt/a/Pendra_Set", "/tmp");
  EXPECT_NE(shared.find("-" + std::to_string(getuid()) + "-"), std::string::npos);
}

TEST(LockFile, LivesInTheRuntimeFolderElseInTmp) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  QTemporaryDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
  EXPECT_EQ(LockDirectory(), runtime.path().toStdString());
  setenv("XDG_RUNTIME_DIR", "/nonexistent/folder", 1);
  EXPECT_EQ(LockDirectory(), "/tmp");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(LockDirectory(), "/tmp");
  if (saved) setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

TEST(InstanceLock, OneHolderAtATimeAndFreeAgainWhenItEnds) {
  QTemporaryDir dir;
  const std::string file = LockFilePath("/x/Pendra_Set", dir.path().toStdString());
  {
    InstanceLock first(file);
    EXPECT_TRUE(first.Held());
    EXPECT_FALSE(first.AnotherInstanceRuns());
    InstanceLock second(file);
    EXPECT_FALSE(second.Held());
    EXPECT_TRUE(second.AnotherInstanceRuns());
  }
  InstanceLock third(file);
  EXPECT_TRUE(third.Held());
  EXPECT_TRUE(QFile::exists(QString::fromStdString(file)));
}

TEST(InstanceLock, AnUnusableLockFileLetsTheProgramRun) {
  InstanceLock lock("/nonexistent/folder/Pendra_Set.lock");
  EXPECT_FALSE(lock.Held());
  EXPECT_FALSE(lock.AnotherInstanceRuns());
}

// ---- The program itself ------------------------------------------------------

// Whether the process holds an flock, as the kernel lists it.
bool HoldsFlock(qint64 pid) {
  QFile locks(QStringLiteral("/proc/locks"));
  if (!locks.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : locks.readAll().split('\n')) {
    const QList<QByteArray> f = line.simplified().split(' ');
    // "1: FLOCK  ADVISORY  WRITE 4711 08:01:123 0 EOF"
    if (f.size() >= 5 && f[1] == "FLOCK" && f[4].toLongLong() == pid) return true;
  }
  return false;
}

bool WaitUntilHoldsLock(QProcess& process) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 30000) {
    if (process.state() != QProcess::Running) return false;
    if (HoldsFlock(process.processId())) return true;
    QThread::msleep(20);
  }
  return false;
}

class Program : public ::testing::Test {
 protected:
  void Start(QProcess& process) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(PENDRA_SET_EXE), {});
    ASSERT_TRUE(process.waitForStarted(10000));
  }
  void TearDown() override {
    for (QProcess* p : {&first, &second, &third}) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(10000);
      }
    }
  }
  QTemporaryDir runtime;
  QProcess first, second, third;
};

TEST_F(Program, ASecondStartEndsAtOnceSilentlyWithSuccess) {
  Start(first);
  ASSERT_TRUE(WaitUntilHoldsLock(first));
  Start(second);
  ASSERT_TRUE(second.waitForFinished(15000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
  EXPECT_TRUE(second.readAllStandardError().isEmpty());
  // The first instance goes on as it was.
  EXPECT_EQ(first.state(), QProcess::Running);
  EXPECT_TRUE(HoldsFlock(first.processId()));
}

TEST_F(Program, ACrashedInstanceDoesNotBlockTheNextStart) {
  Start(first);
  ASSERT_TRUE(WaitUntilHoldsLock(first));
  first.kill();  // SIGKILL: no code of the program runs
  ASSERT_TRUE(first.waitForFinished(10000));
  Start(third);
  EXPECT_TRUE(WaitUntilHoldsLock(third));
  EXPECT_EQ(third.state(), QProcess::Running);
}

// This test process plays the running instance: it holds the program's
// lock, listens as the program does, and shows a minimised window. The
// real program, started a second time, brings that window back.
TEST_F(Program, ASecondStartRestoresAndRaisesTheMinimisedWindow) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
  const std::string lockFile = LockFilePath(PENDRA_SET_EXE, LockDirectory());
  if (saved) setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
  const InstanceLock lock(lockFile);
  ASSERT_TRUE(lock.Held());
  Form1 form;
  form.SetQuitFunction([] {});
  form.Form_Load();
  form.showMinimized();
  ASSERT_TRUE(form.isMinimized());
  int raised = 0;
  const RaiseListener listener(RaiseSocketPath(lockFile), [&] {
    ++raised;
    form.BringToFront();
  });
  ASSERT_TRUE(listener.Listening());

  Start(second);
  ASSERT_TRUE(second.waitForFinished(15000));
  EXPECT_EQ(second.exitCode(), 0);
  QElapsedTimer clock;
  clock.start();
  while (raised == 0 && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(raised, 1);
  EXPECT_FALSE(form.isMinimized());
  EXPECT_TRUE(form.isVisible());
}

TEST(RaiseSocket, IsBesideTheLockAndNobodyListeningIsNoError) {
  QTemporaryDir dir;
  const std::string lockFile = LockFilePath("/x/Pendra_Set", dir.path().toStdString());
  const std::string socket = RaiseSocketPath(lockFile);
  EXPECT_EQ(socket.substr(0, socket.size() - 6), lockFile.substr(0, lockFile.size() - 5));
  EXPECT_EQ(socket.substr(socket.size() - 6), ".raise");
  EXPECT_FALSE(AskToRaise(socket));  // a crashed first instance: the second start still just ends
}

}  // namespace
}  // namespace pendra::app::test
