// Workbooks from someone else through the real jobs: code they carry never
// runs, nothing they link to is fetched, what they cost is bounded, and an
// output target is judged by the file it is, not by its name.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <thread>

#include "Messages.h"
#include "ScheduleJobs.h"
#include "ScheduleTestSupport.h"
#include "excel/Excel.h"

namespace pendra::schedule::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

int RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string MakeUntrusted(const std::string& args) {
  return std::string("'") + PENDRA_MAKE_UNTRUSTED + "' " + args;
}

// An HTTP server on 127.0.0.1 that counts every connection made to it.
class LoopbackServer {
 public:
  LoopbackServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 16) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      throw std::runtime_error("loopback server");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int client = accept(fd_, nullptr, nullptr);
        if (client < 0) continue;
        ++connections_;
        const char answer[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        (void)!write(client, answer, sizeof answer - 1);
        close(client);
      }
    });
  }
  ~LoopbackServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int Connections() const { return connections_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// A flat OpenDocument spreadsheet (any name, ".xls" included) with the two
// schedule sheets, one valid row each, and whatever else the case puts in.
// Rows of the style "fixed" keep their height: the office lays out no text
// to fit them.
std::string FlatSpreadsheet(const std::string& groupExtras, const std::string& kikiStartCell,
                            const std::string& groupRows = "") {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles><style:style style:name="fixed" style:family="table-row"><style:table-row-properties style:row-height="0.5cm" style:use-optimal-row-height="false"/></style:style></office:automatic-styles>
<office:body><office:spreadsheet>
<table:table table:name="GroupMaster">)" + groupExtras + R"(
<table:table-row><table:table-cell office:value-type="string"><text:p>GPno</text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell office:value-type="float" office:value="7"/><table:table-cell office:value-type="string"><text:p>グループ7</text:p></table:table-cell><table:table-cell office:value-type="float" office:value="1"/></table:table-row>)" +
         groupRows + R"(
</table:table>
<table:table table:name="KikiMaster">
<table:table-row><table:table-cell office:value-type="string"><text:p>タグ名</text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell office:value-type="string"><text:p>TAG-7</text:p></table:table-cell><table:table-cell office:value-type="string"><text:p>機器7</text:p></table:table-cell>)" +
         kikiStartCell + R"(<table:table-cell office:value-type="float" office:value="5"/></table:table-row>
</table:table>
</office:spreadsheet></office:body></office:document>
)";
}

const std::vector<std::string> kTheValidRows = {"7|グループ7|-1", "TAG-7|機器7|1|5"};

std::vector<std::string> Tables(const std::string& db) {
  auto rows = Rows(db, "SELECT GPno, GP名称, 有効 FROM GroupMaster ORDER BY GPno");
  for (auto& r : Rows(db, "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY タグ名"))
    rows.push_back(r);
  return rows;
}

class UntrustedWorkbook : public ::testing::Test {
 protected:
  void TearDown() override { excel::SetOfficeLimits({}); }
  BaseFolder base;
  ProbeScope probe;
  ScriptedUi ui{base.Path()};
};

// A function of the workbook's own macros, called from KikiMaster's start
// value and from a sheet no job reads, would write a marker file and give
// 999. It never runs: the cell holds an error value, so the start value
// takes its fallback 1, and the expansion completes with the rows that remain.
class MacrosNeverRun : public UntrustedWorkbook, public ::testing::WithParamInterface<const char*> {};

TEST_P(MacrosNeverRun, ACellCallingTheWorkbooksMacroGetsNoResultAndRunsNothing) {
  const std::string workbook = base.File(std::string(GetParam()) + ".xls");
  const std::string marker = base.File("marker");
  ASSERT_EQ(RunQuietly(MakeUntrusted(std::string(GetParam()) + " '" + workbook + "' '" + marker + "'")), 0);

  subXlsToDb(ui, workbook);

  EXPECT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kExpansionDone});
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_EQ(Tables(base.ScheduleDb()), kTheValidRows);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MacrosNeverRun, ::testing::Values("vba-xls", "vba-xlsm", "basic-ods"));

TEST_F(UntrustedWorkbook, NothingALinkPointsAtIsFetchedByEitherJob) {
  LoopbackServer server;
  const std::string url = server.Url();
  const std::string linked = FlatSpreadsheet(
      R"(<table:shapes><draw:frame svg:width="2cm" svg:height="2cm" svg:x="5cm" svg:y="1cm"><draw:image xlink:href=")" +
          url + R"(/image.png" xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad"/></draw:frame></table:shapes>)",
      R"(<table:table-cell table:formula="of:=WEBSERVICE(&quot;)" + url +
          R"~(/webservice&quot;)" office:value-type="string" office:string-value=""/>)~"
          R"(<table:table-cell table:formula="of:=[')" + url + R"(/external.ods'#$Sheet1.A1]" office:value-type="float" office:value="3"/>)");
  // The linked workbook fetches when the office may reach the network (it
  // did, before the office ran in a namespace of its own).
  const std::string workbook = base.File("リンク.xls");
  WriteFile(workbook, linked);
  subXlsToDb(ui, workbook);
  EXPECT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kExpansionDone});

  // The output opens the template: one with a web function and an external
  // reference completes; one with a linked image fails for want of macros,
  // after loading.
  const std::string networked = base.File("networked.xls");
  ASSERT_EQ(RunQuietly(MakeUntrusted("networked-template '" + base.Template() + "' '" + networked + "' '" + url + "'")), 0);
  fs::copy_file(networked, base.Template(), fs::copy_options::overwrite_existing);
  ScriptedUi output{base.Path()};
  subDbToXls(output, base.File("出力.xls"));
  EXPECT_EQ(output.FirstLines(), std::vector<std::string>{msg::kOutputDone});

  WriteFile(base.Template(), linked);
  ScriptedUi imageTemplate{base.Path()};
  subDbToXls(imageTemplate, base.File("出力2.xls"));
  EXPECT_EQ(imageTemplate.FirstLines(), std::vector<std::string>{msg::kOutputFailed});

  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(server.Connections(), 0);
}

struct LimitCase {
  const char* name;
  excel::OfficeLimits limits;
  long number;       // the error number the job shows
  const char* said;  // in the job's error message
  // Prepares the base folder; returns the job to run.
  std::function<std::function<void(ScriptedUi&)>(BaseFolder&)> prepare;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class LimitsEndTheOffice : public UntrustedWorkbook, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(LimitsEndTheOffice, TheJobFailsSayingWhichLimitAndNothingChanges) {
  const auto job = GetParam().prepare(base);
  const auto before = Tables(base.ScheduleDb());
  excel::SetOfficeLimits(GetParam().limits);

  const auto start = std::chrono::steady_clock::now();
  job(ui);
  const auto took = std::chrono::steady_clock::now() - start;

  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].prompt.find(GetParam().said), std::string::npos) << ui.boxes[0].prompt;
  EXPECT_EQ(ui.boxes[0].prompt.find("ｴﾗｰ番号"), ui.boxes[0].prompt.find("ｴﾗｰ番号  " + std::to_string(GetParam().number)));
  EXPECT_EQ(Tables(base.ScheduleDb()), before);
  EXPECT_TRUE(OurOfficeProcesses().empty());
  EXPECT_FALSE(fs::exists(base.File("出力.xls")));
  // Bounded: the limit plus the office's start and end, far below what the
  // workbook would cost unbounded (minutes).
  EXPECT_LT(took, GetParam().limits.time + 30s);
}

std::function<void(ScriptedUi&)> Expand(const std::string& path) {
  return [path](ScriptedUi& ui) { subXlsToDb(ui, path); };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LimitsEndTheOffice,
    ::testing::Values(
        // 1 KB that expands to a billion cells.
        LimitCase{"Memory", {400, 120s}, 7, "メモリの上限 (400 MB)",
                  [](BaseFolder& base) {
                    WriteFile(base.File("huge.xls"),
                              FlatSpreadsheet("", "", R"(<table:table-row table:number-rows-repeated="1000000"><table:table-cell table:number-columns-repeated="1000" office:value-type="string"><text:p>x</text:p></table:table-cell></table:table-row>)"));
                    return Expand(base.File("huge.xls"));
                  }},
        // One formula that computes for minutes.
        LimitCase{"TimeInAFormula", {2048, 4s}, 440, "時間の上限 (4 秒)",
                  [](BaseFolder& base) {
                    WriteFile(base.File("slow.xls"),
                              FlatSpreadsheet("", R"~(<table:table-cell table:formula="of:=SUM(MMULT(MUNIT(2000);MUNIT(2000)))"/>)~"));
                    return Expand(base.File("slow.xls"));
                  }},
        // A template whose subResult never returns.
        LimitCase{"TimeInATemplateMacro", {2048, 6s}, 440, "Pendra情報のXLS出力エラー\nｴﾗｰ番号  440:オートメーション エラーです。 スプレッドシート アプリケーションが時間の上限 (6 秒)",
                  [](BaseFolder& base) {
                    const std::string source = base.File("endless.bas");
                    WriteFile(source, "Option VBASupport 1\nSub subResultClr()\nEnd Sub\nSub subResult()\n  Do\n  Loop\nEnd Sub\n");
                    const std::string command = std::string("'") + PENDRA_MAKE_TEMPLATE + "' '" + base.Template() +
                                                "' --macros '" + source + "'";
                    fs::remove(base.Template());
                    EXPECT_EQ(RunQuietly(command), 0);
                    return [&base](ScriptedUi& ui) { subDbToXls(ui, base.File("出力.xls")); };
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// The peak resident memory of this process (the office is another) from
// the moment this was made, in kB: making it resets the kernel's mark.
class PeakMemory {
 public:
  PeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
  long Kilobytes() const {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
  }
};

std::string TextCell(const std::string& text) {
  return "<table:table-cell office:value-type=\"string\"><text:p>" + text + "</text:p></table:table-cell>";
}

struct LongTextCase {
  const char* name;
  std::string kikiStartCell;
  std::string groupRows;
  const char* said;  // the job's message
};

void PrintTo(const LongTextCase& c, std::ostream* os) { *os << c.name; }

class LongTexts : public UntrustedWorkbook, public ::testing::WithParamInterface<LongTextCase> {};

// A workbook of a few kilobytes can repeat one text of 100,000 characters on
// every row: the office keeps it once, a copy per cell would take gigabytes.
// A column no job reads costs the expansion nothing; a text no cell can
// hold, in a column it reads, is refused naming its cell before it is
// copied. Either way the expansion's own memory stays small.
TEST_P(LongTexts, TheExpansionsOwnMemoryStaysBounded) {
  const std::string workbook = base.File("長い文字列.ods");
  WriteFile(workbook, FlatSpreadsheet("", GetParam().kikiStartCell, GetParam().groupRows));
  const auto before = Tables(base.ScheduleDb());
  const PeakMemory peak;

  subXlsToDb(ui, workbook);

  EXPECT_LT(peak.Kilobytes(), 512L * 1024) << "kB at the peak";
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].prompt.find(GetParam().said), std::string::npos) << ui.boxes[0].prompt;
  if (GetParam().said == std::string(msg::kExpansionDone)) {
    EXPECT_EQ(Tables(base.ScheduleDb()), kTheValidRows);
  } else {
    EXPECT_EQ(Tables(base.ScheduleDb()), before);
  }
}

const std::string kLongText(100000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, LongTexts,
    ::testing::Values(
        LongTextCase{"InAColumnNoJobReads", R"(<table:table-cell office:value-type="float" office:value="1"/>)",
                     R"(<table:table-row table:style-name="fixed" table:number-rows-repeated="16384"><table:table-cell table:number-columns-repeated="4"/>)" +
                         TextCell(kLongText) + "</table:table-row>",
                     msg::kExpansionDone},
        LongTextCase{"InAColumnTheJobReads", TextCell(kLongText + "y"), "",
                     "(セル (2, 3) の文字列が 100001 文字あり、セルに入る 32767 文字を超えています)"}),
    [](const auto& info) { return std::string(info.param.name); });

// Targets that must never be written, whatever they are called; each is
// refused before any work, and the file behind it keeps its bytes.
struct TargetCase {
  const char* name;
  const char* refusal;
  // Makes the target in the base folder; returns its path and the path of
  // the file that must stay as it was ("" for none).
  std::function<std::pair<std::string, std::string>(BaseFolder&)> make;
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.name; }

class RefusedTargets : public UntrustedWorkbook, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(RefusedTargets, AreRefusedBeforeAnyWork) {
  const auto [target, kept] = GetParam().make(base);
  const std::string before = kept.empty() ? "" : Contents(kept);
  const bool existed = !kept.empty() && fs::exists(kept);

  subDbToXls(ui, target);

  EXPECT_EQ(ui.Prompts(), std::vector<std::string>{GetParam().refusal});
  EXPECT_FALSE(ui.waitPointer);
  if (!kept.empty()) {
    EXPECT_EQ(Contents(kept), before);
    EXPECT_EQ(fs::exists(kept), existed);  // a file not there is not made
  }
  if (GetParam().name == std::string("BindMountOfTheTemplate")) umount(target.c_str());
}

std::string TagDatabase(BaseFolder& base) { return base.Path() + "/VL_Database/Velmora.mdb"; }

std::vector<TargetCase> Targets() {
  std::vector<TargetCase> cases = {
      {"HardLinkToTheTemplate", msg::kOutputOverTemplate,
       [](BaseFolder& base) {
         EXPECT_EQ(link(base.Template().c_str(), base.File("copy.xls").c_str()), 0);
         return std::pair{base.File("copy.xls"), base.Template()};
       }},
      {"TemplateThroughAnotherPath", msg::kOutputOverTemplate,
       [](BaseFolder& base) {
         return std::pair{base.Path() + "/OV_DataBase/../Pendra_原紙.xls", base.Template()};
       }},
      {"LinkToTheScheduleDatabase", msg::kOutputOverDatabase,
       [](BaseFolder& base) {
         fs::create_symlink(base.ScheduleDb(), base.File("db.xls"));
         return std::pair{base.File("db.xls"), base.ScheduleDb()};
       }},
      {"TheTagDatabase", msg::kOutputOverDatabase,
       [](BaseFolder& base) { return std::pair{TagDatabase(base), TagDatabase(base)}; }},
      {"Fifo", msg::kOutputNotAFile,
       [](BaseFolder& base) {
         mkfifo(base.File("pipe.xls").c_str(), 0600);
         return std::pair{base.File("pipe.xls"), std::string()};
       }},
      {"Directory", msg::kOutputNotAFile,
       [](BaseFolder& base) {
         fs::create_directory(base.File("folder.xls"));
         return std::pair{base.File("folder.xls"), std::string()};
       }},
  };
  // The files SQLite keeps beside each database, by name while they are
  // not there yet (SQLite would take what it finds there for its own).
  struct SideFile {
    const char* name;
    const char* path;
  };
  for (const SideFile side : {SideFile{"OrvikJournal", "OV_DataBase/Orvik.mdb-journal"},
                              SideFile{"OrvikWal", "OV_DataBase/Orvik.mdb-wal"},
                              SideFile{"OrvikShm", "OV_DataBase/Orvik.mdb-shm"},
                              SideFile{"VelmoraJournal", "VL_Database/Velmora.mdb-journal"},
                              SideFile{"VelmoraWal", "VL_Database/Velmora.mdb-wal"},
                              SideFile{"VelmoraShm", "VL_Database/Velmora.mdb-shm"}}) {
    cases.push_back({side.name, msg::kOutputOverDatabase, [path = side.path](BaseFolder& base) {
                       return std::pair{base.File(path), base.File(path)};
                     }});
  }
  cases.push_back({"ExistingJournalUnderAnotherName", msg::kOutputOverDatabase, [](BaseFolder& base) {
                     const std::string journal = base.ScheduleDb() + "-journal";
                     WriteFile(journal, "pending pages");
                     EXPECT_EQ(link(journal.c_str(), base.File("journal.xls").c_str()), 0);
                     return std::pair{base.File("journal.xls"), journal};
                   }});
  cases.push_back({"WalThroughALinkedFolder", msg::kOutputOverDatabase, [](BaseFolder& base) {
                     fs::create_directory_symlink(base.File("VL_Database"), base.File("linked"));
                     return std::pair{base.File("linked/Velmora.mdb-wal"), TagDatabase(base) + "-wal"};
                   }});
  cases.push_back({"ShmInAnotherLetterCase", msg::kOutputOverDatabase, [](BaseFolder& base) {
                     return std::pair{base.File("OV_DataBase/ORVIK.MDB-SHM"), base.File("OV_DataBase/ORVIK.MDB-SHM")};
                   }});
  // Mounting needs root, which the test machines have.
  if (geteuid() == 0) {
    cases.push_back({"BindMountOfTheTemplate", msg::kOutputOverTemplate, [](BaseFolder& base) {
                       WriteFile(base.File("mounted.xls"), "placeholder");
                       EXPECT_EQ(mount(base.Template().c_str(), base.File("mounted.xls").c_str(), nullptr, MS_BIND, nullptr), 0);
                       return std::pair{base.File("mounted.xls"), base.Template()};
                     }});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedTargets, ::testing::ValuesIn(Targets()),
                         [](const auto& info) { return std::string(info.param.name); });

// What happens to the target's folder while the job runs (at its first
// written row): the workbook is not saved, and nothing lands anywhere.
struct MidJobCase {
  const char* name;
  std::function<void(const fs::path& folder, const fs::path& elsewhere)> change;
  std::function<void(const fs::path& folder, const fs::path& elsewhere)> check;
};

class ProgressHook : public ScriptedUi {
 public:
  using ScriptedUi::ScriptedUi;
  std::function<void()> once;
  void ReportProgress(std::string_view, long, long) override {
    if (once) std::exchange(once, nullptr)();
  }
};

void PrintTo(const MidJobCase& c, std::ostream* os) { *os << c.name; }

class ChangesWhileTheOutputRuns : public UntrustedWorkbook, public ::testing::WithParamInterface<MidJobCase> {};

TEST_P(ChangesWhileTheOutputRuns, NeitherReplaceNorRedirectTheSave) {
  const fs::path folder = base.File("出力先");
  const fs::path elsewhere = base.File("よそ");
  fs::create_directories(folder);
  fs::create_directories(elsewhere);
  ProgressHook hooked{base.Path()};
  hooked.once = [&] { GetParam().change(folder, elsewhere); };

  subDbToXls(hooked, (folder / "結果.xls").string());

  EXPECT_EQ(hooked.FirstLines(), std::vector<std::string>{msg::kOutputFailed});
  EXPECT_TRUE(fs::is_empty(elsewhere));
  GetParam().check(folder, elsewhere);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangesWhileTheOutputRuns,
    ::testing::Values(
        MidJobCase{"TargetAppears",
                   [](const fs::path& folder, const fs::path&) { WriteFile((folder / "結果.xls").string(), "mine"); },
                   [](const fs::path& folder, const fs::path&) {
                     EXPECT_EQ(Contents((folder / "結果.xls").string()), "mine");
                     EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
                   }},
        MidJobCase{"FolderSwappedForALink",
                   [](const fs::path& folder, const fs::path& elsewhere) {
                     fs::rename(folder, folder.string() + ".old");
                     fs::create_directory_symlink(elsewhere, folder);
                   },
                   [](const fs::path& folder, const fs::path&) {
                     EXPECT_TRUE(fs::is_empty(folder.string() + ".old"));
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

// The processes of the key tools (gpg, gpgsm, gpgconf and the daemons
// they start) that are alive now; zombies are gone already.
std::set<pid_t> KeyToolProcesses() {
  std::set<pid_t> pids;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string comm, stat;
    std::getline(std::ifstream(entry.path() / "comm"), comm);
    std::getline(std::ifstream(entry.path() / "stat"), stat);
    const auto close = stat.rfind(')');
    const bool zombie = close != std::string::npos && stat.size() > close + 2 && stat[close + 2] == 'Z';
    const bool keyTool = comm.rfind("gpg", 0) == 0 || comm == "dirmngr" || comm == "scdaemon" || comm == "keyboxd";
    if (keyTool && !zombie) pids.insert(std::stoi(name));
  }
  return pids;
}

// Sets environment variables for a scope (nullptr: unset), then puts back
// what was there.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::vector<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      value ? setenv(name, value, 1) : unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// A workbook signed with someone's OpenPGP key makes the office check the
// signature: it runs gpg, gpgsm and gpgconf, which import the key into a
// keyring and may start gpg-agent. None of it reaches the user's files (the
// keyring in the user's home is neither created nor touched), and no
// process it started outlives the job.
TEST_F(UntrustedWorkbook, ASignedWorkbookTouchesNoFileOfTheUserAndLeavesNoProcess) {
  ASSERT_EQ(RunQuietly("gpg --version"), 0) << "the signature check needs gpg installed (scripts/install-deps)";
  const std::string home = base.File("ホーム");
  fs::create_directory(home);
  const std::string description = base.File("signed.json");
  WriteFile(description, R"({"openpgp_signed": true, "sheets": [
      {"name": "GroupMaster", "rows": [["GPno"], [7, "グループ7", 1]]},
      {"name": "KikiMaster", "rows": [["タグ名"], ["TAG-7", "機器7", 1, 5]]}]})");
  const std::string workbook = base.File("署名付き.ods");
  ASSERT_EQ(RunQuietly(std::string("python3 '") + PENDRA_WRITE_WORKBOOK + "' '" + description + "' '" + workbook + "'"), 0);
  const std::set<pid_t> before = KeyToolProcesses();

  {
    ScopedEnvironment user({{"HOME", home.c_str()}, {"GNUPGHOME", nullptr}, {"XDG_CONFIG_HOME", nullptr},
                            {"XDG_DATA_HOME", nullptr}, {"XDG_CACHE_HOME", nullptr}, {"XDG_STATE_HOME", nullptr}});
    subXlsToDb(ui, workbook);
  }

  EXPECT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kExpansionDone});
  EXPECT_EQ(Tables(base.ScheduleDb()), kTheValidRows);
  // Our own process's UNO runtime makes an empty ~/.config; nothing else
  // may appear.
  std::vector<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(home))
    if (entry.path() != fs::path(home) / ".config") written.push_back(entry.path().string());
  EXPECT_EQ(written, std::vector<std::string>{}) << "written into the user's home";
  EXPECT_FALSE(fs::exists(home + "/.gnupg"));
  EXPECT_TRUE(OurOfficeProcesses().empty());
  std::set<pid_t> left;
  for (pid_t pid : KeyToolProcesses())
    if (!before.count(pid)) left.insert(pid);
  EXPECT_TRUE(left.empty()) << "a key tool the office started still runs: " << *left.begin();
}

TEST_F(UntrustedWorkbook, StaleSaveFoldersOfOtherUsersAreLeftAlone) {
  ASSERT_EQ(geteuid(), 0u) << "giving a folder to another user needs root";
  const std::string ours = base.File(".~pendra-999999-ours");
  const std::string theirs = base.File(".~pendra-999998-theirs");
  fs::create_directory(ours);
  fs::create_directory(theirs);
  ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);

  subDbToXls(ui, base.File("出力.xls"));

  EXPECT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputDone});
  EXPECT_FALSE(fs::exists(ours));
  EXPECT_TRUE(fs::exists(theirs));
}

}  // namespace
}  // namespace pendra::schedule::test
