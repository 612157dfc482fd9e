#include "OfficeProcess.h"

#include "InstanceProcesses.h"
#include "NetworkIsolation.h"
#include "OfficeHome.h"
#include "ProfileVersion.h"
#include "ProfileDisposal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>

extern char** environ;

namespace pendra::excel {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::mutex gPidsMutex;
std::set<pid_t> gPids;

// Lets the imported VBA project load, run and be written back on save (the
// template's macros are run by name; nothing runs on loading, see Load),
// turns off lock files (a stale one makes loading return nothing), never
// updates links when loading, and blocks linked images of documents from
// untrusted places (a second fence behind the network namespace).
constexpr const char* kRegistry = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Filter/Import/VBA"><prop oor:name="Load" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Filter/Import/VBA"><prop oor:name="Executable" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Filter/Import/VBA"><prop oor:name="Save" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Filter/Import/VBA"><prop oor:name="UseExport" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Content/Update"><prop oor:name="Link" oor:op="fuse"><value>1</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="BlockUntrustedRefererLinks" oor:op="fuse"><value>true</value></prop></item>
</oor:items>
)";

bool PidAlive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// Profile folders left by a process of ours that was killed: the name
// starts with the owner's PID.
void RemoveOrphans(const std::string& root) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    const std::string name = entry.path().filename().string();
    const pid_t owner = static_cast<pid_t>(std::atol(name.c_str()));
    if (owner > 0 && owner != getpid() && !PidAlive(owner)) fs::remove_all(entry.path(), ec);
  }
}

// A fresh profile costs LibreOffice a first start that initialises it and
// exits asking to be started again. The first profile that came up is kept
// as a seed under the profile root, and later instances start from a copy of
// it: one start instead of two.
// Named after the settings it was made with: a seed of older settings is
// never copied.
std::string SeedProfile() { return ProfileRoot() + "/seed-3"; }

// The office's own version ("7.4"), as its configuration names it; empty
// when it cannot be read.
std::string OfficeVersion(const css::uno::Reference<css::uno::XComponentContext>& context) {
  try {
    const auto provider = css::configuration::theDefaultProvider::get(context);
    const css::beans::NamedValue node(ToOU("nodepath"), css::uno::Any(ToOU("/org.openoffice.Setup/Product")));
    css::uno::Sequence<css::uno::Any> arguments(1);
    arguments.getArray()[0] <<= node;
    const css::uno::Reference<css::container::XNameAccess> product(
        provider->createInstanceWithArguments(ToOU("com.sun.star.configuration.ConfigurationAccess"), arguments),
        css::uno::UNO_QUERY_THROW);
    rtl::OUString version;
    product->getByName(ToOU("ooSetupVersion")) >>= version;
    std::string text = FromOU(version);
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return "";
    return text;
  } catch (const css::uno::Exception&) {
    return "";
  }
}

bool CopySeedProfile(const std::string& dir) {
  const std::string seed = SeedProfile();
  std::error_code ec;
  if (!fs::exists(seed + "/user/registrymodifications.xcu", ec)) return false;
  fs::copy(seed, dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) {
    // Start from nothing rather than from half a copy.
    for (const auto& entry : fs::directory_iterator(dir, ec)) fs::remove_all(entry.path(), ec);
    return false;
  }
  return true;
}

void KeepSeedProfile(const std::string& dir, const std::string& version) {
  const std::string seed = SeedProfile();
  std::error_code ec;
  if (fs::exists(seed, ec)) return;
  // Copied under a name of this process first (cleaned up as an orphan if
  // we die), then renamed: another process never sees half a seed.
  const std::string staging = dir + "-seed";
  fs::copy(dir, staging, fs::copy_options::recursive, ec);
  // A seed carries no home: each instance's keyring and caches start empty.
  fs::remove_all(staging + "/home", ec);
  fs::remove(staging + "/.lock", ec);
  // Nor the log of the graphics self-tests: an instance that runs them
  // again shows by writing it. The seed is taken while the office runs,
  // before it writes down the version it saw, so that is written here.
  fs::remove(staging + "/user/GraphicsRenderTests.log", ec);
  RecordVersionSeen(staging, version);
  if (ec || rename(staging.c_str(), seed.c_str()) != 0) fs::remove_all(staging, ec);
}

bool LocaleIsUtf8() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      std::string v(value);
      return v.find("UTF-8") != std::string::npos || v.find("utf8") != std::string::npos;
    }
  }
  return false;
}

}  // namespace

const std::string& ProfileRoot() {
  static const std::string root = [] {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = (runtime && *runtime && access(runtime, W_OK) == 0) ? runtime : "/tmp";
    std::string path = base + "/pendra-office-" + std::to_string(getuid());
    mkdir(path.c_str(), 0700);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
      Raise(err::kCannotCreateObject, std::string(text::kCannotStart) + "プロファイル フォルダー " + path + " を使えません。");
    }
    chmod(path.c_str(), 0700);
    RemoveOrphans(path);
    return path;
  }();
  return root;
}

std::set<pid_t> OwnPids() {
  std::lock_guard lock(gPidsMutex);
  return gPids;
}

void KillOwnInstancesNow() {
  for (const pid_t pid : OwnPids()) {
    // Held first: while the pidfd is open the PID names the office, and
    // the office, unreaped, still owns its group's ID.
    const int pidfd = PidfdOpen(pid);
    if (pidfd < 0) continue;
    kill(-pid, SIGKILL);
    PidfdKill(pidfd);
    pollfd died{pidfd, POLLIN, 0};
    poll(&died, 1, 2000);
    close(pidfd);
  }
}

std::unique_ptr<OfficeProcess> OfficeProcess::Start() {
  const auto local = ClientContext();
  ClearLastLimitReached();
  std::unique_ptr<OfficeProcess> office(new OfficeProcess());
  std::string dir = ProfileRoot() + "/" + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(dir.data())) Raise(err::kCannotCreateObject, std::string(text::kCannotStart) + std::strerror(errno));
  office->profileDir_ = dir;
  bool seeded = CopySeedProfile(dir);
  if (!seeded) {
    fs::create_directories(dir + "/user");
    std::ofstream(dir + "/user/registrymodifications.xcu") << kRegistry;
  }
  static std::atomic<int> counter{0};
  office->pipeName_ = "pendra_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" +
                      fs::path(dir).filename().string().substr(fs::path(dir).filename().string().find('-') + 1);

  auto resolver = css::bridge::UnoUrlResolver::create(local);
  const rtl::OUString url = ToOU("uno:pipe,name=" + office->pipeName_ + ";urp;StarOffice.ComponentContext");
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  int restarts = 0;
  // A limit that ended the office while it started is what the user needs
  // to hear, not how the end showed (a lost connection, an exit code).
  auto cannotStart = [&office](const std::string& why) {
    const auto limit = office->LimitReason();
    office->End(0ms);
    Raise(err::kCannotCreateObject, std::string(text::kCannotStart) + (limit ? *limit : why));
  };
  office->Spawn();
  while (true) {
    try {
      auto remote = resolver->resolve(url);
      office->context_.set(remote, css::uno::UNO_QUERY_THROW);
      office->desktop_ = css::frame::Desktop::create(office->context_);
      if (!seeded) KeepSeedProfile(dir, OfficeVersion(office->context_));
      return office;
    } catch (const css::connection::NoConnectException&) {
    } catch (const css::uno::Exception& e) {
      cannotStart(FromOU(e.Message));
    }
    if (!office->Running() && office->LimitReason()) cannotStart("");
    if (!office->Running()) {
      // A fresh profile makes the first start exit with 81 (restart request).
      if (office->exitStatus_ == 81 && ++restarts <= 2) {
        office->Spawn();
        continue;
      }
      // A seed that does not start is dropped; this instance starts fresh.
      if (seeded) {
        std::error_code ec;
        fs::remove_all(SeedProfile(), ec);
        for (const auto& entry : fs::directory_iterator(dir, ec)) fs::remove_all(entry.path(), ec);
        fs::create_directories(dir + "/user");
        std::ofstream(dir + "/user/registrymodifications.xcu") << kRegistry;
        seeded = false;
        office->Spawn();
        continue;
      }
      cannotStart("soffice.bin が終了しました (終了コード " + std::to_string(office->exitStatus_) + ")。");
    }
    if (std::chrono::steady_clock::now() > deadline) cannotStart("応答がありません。");
    std::this_thread::sleep_for(20ms);
  }
}

void OfficeProcess::Spawn() {
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls run.
  const std::string program = PENDRA_LO_PROGRAM "/soffice.bin";
  std::vector<std::string> args = {
      program, "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
      "--nolockcheck", "--accept=pipe,name=" + pipeName_ + ";urp;",
      "-env:UserInstallation=" + FromOU(FileUrl(profileDir_))};
  std::vector<std::string> env;
  const bool utf8 = LocaleIsUtf8();
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    if (!utf8 && (entry.rfind("LC_ALL=", 0) == 0 || entry.rfind("LANG=", 0) == 0)) continue;
    if (IsHomeVariable(entry) || entry.rfind(InstanceMark(""), 0) == 0) continue;
    env.push_back(entry);
  }
  // Storing fails under a non-UTF-8 locale such as LC_ALL=C.
  if (!utf8) env.push_back("LC_ALL=C.UTF-8");
  // Whatever the office runs stays inside its profile, and carries the mark
  // by which End finds it.
  if (!PrepareOfficeHome(profileDir_)) {
    Raise(err::kCannotCreateObject, std::string(text::kCannotStart) + "ホーム フォルダーを " + profileDir_ + " に作れません。");
  }
  for (auto& entry : OfficeHomeEnvironment(profileDir_)) env.push_back(std::move(entry));
  env.push_back(InstanceMark(profileDir_));
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  if (access(program.c_str(), X_OK) != 0) {
    Raise(err::kCannotCreateObject, std::string(text::kCannotStart) + program + " がありません。");
  }
  NetworkIsolation isolation = NetworkIsolation::Prepare();
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) Raise(err::kCannotCreateObject, std::string(text::kCannotStart) + std::strerror(errno));
  if (pid == 0) {
    // Killed when the thread that spawned it ends: the window's jobs
    // create their instances on its one job thread, which lives as long
    // as the program (the batch command on its main thread).
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    // The office gets the default SIGPIPE handling back: we ignore it.
    signal(SIGPIPE, SIG_DFL);
    if (!isolation.EnterInChild()) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (!isolation.ConfirmInParent()) {
    // Left half inside its namespaces, the child ended: this start and
    // every later one go without them.
    waitpid(pid, nullptr, 0);
    Spawn();
    return;
  }
  pid_ = pid;
  exitStatus_ = -1;
  watch_.reset();
  watch_ = std::make_unique<LimitWatch>(pid, limits_);
  std::lock_guard lock(gPidsMutex);
  gPids.insert(pid);
}

bool OfficeProcess::Running() {
  if (pid_ <= 0) return false;
  // Looked at without reaping first: the limit watcher lets go of the PID
  // before it can be given to another process.
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) return true;
  if (watch_) watch_->Forget();
  int status = 0;
  const pid_t r = waitpid(pid_, &status, 0);
  exitStatus_ = (r == pid_ && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  std::lock_guard lock(gPidsMutex);
  gPids.erase(pid_);
  pid_ = -1;
  return false;
}

bool OfficeProcess::RunningLately() {
  const auto now = std::chrono::steady_clock::now();
  if (pid_ > 0 && now - seenRunning_ < 100us) return true;
  if (!Running()) return false;
  seenRunning_ = now;
  return true;
}

bool OfficeProcess::WaitExit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

css::uno::Reference<css::uno::XInterface> OfficeProcess::Create(const char* service) const {
  return Remote(service, [&] {
    return context_->getServiceManager()->createInstanceWithContext(ToOU(service), context_);
  });
}

void OfficeProcess::End(std::chrono::milliseconds grace) {
  if (Running() && desktop_.is() && grace.count() > 0) {
    // terminate() blocks when the office hangs: it runs on a helper thread
    // and the PID is killed once the grace period is over, which makes the
    // blocked call return with DisposedException.
    auto desktop = desktop_;
    std::atomic<bool> done{false};
    std::thread asker([desktop, &done] {
      try {
        desktop->terminate();
      } catch (...) {
      }
      done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    if (!WaitExit(done ? std::chrono::milliseconds(grace) : 0ms) && pid_ > 0) KillGroup();
    WaitExit(5s);
    asker.join();
  }
  if (Running()) {
    KillGroup();
    WaitExit(5s);
  }
  desktop_.clear();
  context_.clear();
  if (!profileDir_.empty()) {
    // What the office started and left behind, daemons included; then
    // nothing can write into the profile any more, and it goes.
    KillInstanceProcesses(InstanceMark(profileDir_));
    DisposeOfProfile(profileDir_);
    profileDir_.clear();
  }
}

void OfficeProcess::KillGroup() {
  // The office leads its own group (setpgid in Spawn), and is not reaped
  // yet: the group's ID is still its own.
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
}

OfficeProcess::~OfficeProcess() {
  try {
    End();
  } catch (...) {
  }
}

}  // namespace pendra::excel
