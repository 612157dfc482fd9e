// Workbook, its sheets by name, its window and SaveAs.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/util/Date.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

#include "ExcelInternal.h"
#include "core/AsciiText.h"
#include "core/ProcessFile.h"

namespace pendra::excel {

namespace fs = std::filesystem;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace {

[[noreturn]] void CannotSave(const std::string& path, const std::string& why) {
  Raise(err::kApplicationDefined, "'" + path + "' に保存できません。" + why);
}

// The format a workbook is stored in: the one the target's extension names
// (a workbook made from the .xls template and saved as result.xlsx is an
// .xlsx); under any other name a workbook read from a file keeps its own
// format, and a new one becomes an .xls.
rtl::OUString FilterForTarget(const fs::path& target, const rtl::OUString& ownFilter) {
  const std::string ext = AsciiLowered(target.extension().string());
  if (ext == ".xlsx") return ToOU("Calc MS Excel 2007 XML");
  if (ext == ".ods") return ToOU("calc8");
  if (ext == ".xls" || ownFilter.isEmpty()) return ToOU("MS Excel 97");
  return ownFilter;
}

}  // namespace

namespace {

// While blocks of cells go in, Calc would fit every touched row's height to
// its text, laying the text out cell by cell: six times the cost of the
// transfer itself. Rows keep their height (the template's); the setting is
// restored afterwards, so a person editing the workbook sees no difference.
class RowHeightsKept {
 public:
  explicit RowHeightsKept(const css::uno::Reference<css::sheet::XSpreadsheetDocument>& document) {
    Remote("IsAdjustHeightEnabled", [&] {
      props_.set(document, css::uno::UNO_QUERY);  // a call to the office too
      if (!props_.is()) return;
      props_->getPropertyValue(ToOU("IsAdjustHeightEnabled")) >>= previous_;
      if (previous_) props_->setPropertyValue(ToOU("IsAdjustHeightEnabled"), css::uno::Any(false));
    });
  }
  ~RowHeightsKept() {
    if (!props_.is() || !previous_) return;
    try {
      props_->setPropertyValue(ToOU("IsAdjustHeightEnabled"), css::uno::Any(true));
    } catch (...) {
      // The instance died during the transfer; that error is already on its way.
    }
  }
  RowHeightsKept(const RowHeightsKept&) = delete;
  RowHeightsKept& operator=(const RowHeightsKept&) = delete;

 private:
  css::uno::Reference<css::beans::XPropertySet> props_;
  bool previous_ = false;
};

// Save folders left in a target's folder by a process of this user that
// died while saving (".~pendra-<pid>-XXXXXX" of a process that no longer
// runs). Folders of other users are never touched, whatever their names.
void RemoveStaleSaveFolders(const PinnedFolder& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.Path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".~pendra-", 0) != 0) continue;
    struct stat st {};
    if (fstatat(folder.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != getuid())
      continue;
    const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + 9));
    if (owner <= 0 || owner == getpid()) continue;
    if (kill(owner, 0) == 0 || errno == EPERM) continue;
    fs::remove_all(entry.path(), ec);
  }
}

// LibreOffice's leftovers are plain files; the folder is ours alone.
void RemoveSaveFolder(int parentFd, const std::string& name) {
  const int dir = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (DIR* d = dir >= 0 ? fdopendir(dir) : nullptr) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) unlinkat(dirfd(d), e->d_name, 0);
    }
    closedir(d);
  } else if (dir >= 0) {
    close(dir);
  }
  unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
}

// The save folders that exist right now, for a program that ends at once
// (the window's "終了" during a save ends the process without unwinding
// the job): it removes them on its way out instead of leaving a hidden
// folder in the user's folder until the next save there. A folder is made
// and noted under one lock, so none exists unnoted; once the program ends,
// none is made any more.
class SavesUnderWay {
 public:
  // Makes the folder `name` in the parent and notes it; its descriptor
  // (O_PATH), or -1 with errno set.
  static int Make(int parentFd, const std::string& name) {
    const std::lock_guard<std::mutex> lock(Mutex());
    if (Ending()) {
      errno = ECANCELED;
      return -1;
    }
    const int held = fcntl(parentFd, F_DUPFD_CLOEXEC, 0);
    if (held < 0) return -1;
    if (mkdirat(parentFd, name.c_str(), 0700) != 0) {
      const int error = errno;
      close(held);
      errno = error;
      return -1;
    }
    const int fd = openat(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
      close(held);
      errno = error;
      return -1;
    }
    Folders().emplace_back(held, name);
    return fd;
  }
  static void Forget(int parentFd, const std::string& name) {
    const std::lock_guard<std::mutex> lock(Mutex());
    struct stat parent {};
    fstat(parentFd, &parent);
    auto& folders = Folders();
    for (auto it = folders.begin(); it != folders.end(); ++it) {
      struct stat held {};
      if (it->second != name || fstat(it->first, &held) != 0 || held.st_ino != parent.st_ino || held.st_dev != parent.st_dev)
        continue;
      close(it->first);
      folders.erase(it);
      return;
    }
  }
  static void RemoveAll() {
    const std::lock_guard<std::mutex> lock(Mutex());
    Ending() = true;
    // The office that saves must be dead first: alive, it writes on into
    // the folder, and its store makes the folder again when it is gone.
    KillOwnInstancesNow();
    for (auto& [parentFd, name] : Folders()) RemoveSaveFolder(parentFd, name);
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static bool& Ending() {
    static bool ending = false;
    return ending;
  }
  static std::vector<std::pair<int, std::string>>& Folders() {
    static std::vector<std::pair<int, std::string>> folders;
    return folders;
  }
};

// A private folder beside the target, made inside the pinned folder, where
// LibreOffice stores the workbook and its temporary files. Removed with all
// it holds when it goes out of scope.
class SaveFolder {
 public:
  SaveFolder(const PinnedFolder& folder, const std::string& path) : folder_(folder) {
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      name_ = ".~pendra-" + std::to_string(getpid()) + "-" + std::to_string(std::random_device()() % 1000000);
      fd_ = SavesUnderWay::Make(folder.Fd(), name_);
      if (fd_ < 0 && errno != EEXIST) CannotSave(path, "書き込みできません (" + std::string(std::strerror(errno)) + ")。");
    }
    if (fd_ < 0) CannotSave(path, "書き込みできません。");
  }
  ~SaveFolder() {
    SavesUnderWay::Forget(folder_.Fd(), name_);
    RemoveSaveFolder(folder_.Fd(), name_);
    close(fd_);
  }
  SaveFolder(const SaveFolder&) = delete;
  SaveFolder& operator=(const SaveFolder&) = delete;

  int Fd() const { return fd_; }
  // The path the office stores to. Refused unless it still leads into this
  // folder: otherwise the office would write somewhere else.
  std::string PathFor(const std::string& file, const std::string& target) const {
    const std::string path = folder_.Path() + "/" + name_;
    struct stat held {};
    const auto now = IdentityOf(path);
    if (fstat(fd_, &held) != 0 || !now || !(*now == FileIdentity{held.st_dev, held.st_ino}))
      CannotSave(target, "保存先のフォルダーが途中で置き換えられました。");
    return path + "/" + file;
  }

 private:
  const PinnedFolder& folder_;
  std::string name_;
  int fd_ = -1;
};

}  // namespace

void RemoveUnfinishedSaveFolders() { SavesUnderWay::RemoveAll(); }

void DocumentState::FlushAll() {
  bool pending = false;
  for (auto& [name, sheet] : sheets) pending |= sheet->cells.HasPending();
  if (!pending) return;

  bool flushed = false;
  {
    RowHeightsKept heights(document);
    for (auto& [name, sheet] : sheets) {
      if (!sheet->cells.HasPending()) continue;
      sheet->cells.Flush();
      flushed = true;
    }
  }
  // A formula on another sheet may show what was written.
  if (flushed) ForgetReads();
}

void DocumentState::ForgetReads() {
  for (auto& [name, sheet] : sheets) sheet->cells.Forget();
}

SheetData& DocumentState::Sheet(const std::string& name) {
  auto it = sheets.find(name);
  if (it != sheets.end()) return *it->second;
  EnsureAlive();
  auto found = Remote("Sheets", [&]() -> std::pair<std::string, Reference<css::sheet::XSpreadsheet>> {
    auto all = document->getSheets();
    const rtl::OUString wanted = ToOU(name);
    if (all->hasByName(wanted)) return {name, Reference<css::sheet::XSpreadsheet>(all->getByName(wanted), UNO_QUERY_THROW)};
    // Sheet names compare without regard to case, as in Excel.
    for (const auto& candidate : all->getElementNames()) {
      if (EqualIgnoringAsciiCase(FromOU(candidate), name))
        return {FromOU(candidate), Reference<css::sheet::XSpreadsheet>(all->getByName(candidate), UNO_QUERY_THROW)};
    }
    return {};
  });
  if (!found.second.is()) {
    Raise(err::kSubscriptOutOfRange, StandardDescription(err::kSubscriptOutOfRange) + " (シート \"" + name + "\" がありません)");
  }
  auto existing = sheets.find(found.first);
  if (existing != sheets.end()) return *existing->second;
  auto data = std::make_unique<SheetData>(SheetData{found.first, CellBlocks(*this, found.second)});
  return *sheets.emplace(found.first, std::move(data)).first->second;
}

sal_Int16 NumberFormatType(const Reference<css::sheet::XSpreadsheetDocument>& document, sal_Int32 key) {
  sal_Int16 type = 0;
  Remote("NumberFormat", [&] {
    Reference<css::util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
    supplier->getNumberFormats()->getByKey(key)->getPropertyValue(ToOU("Type")) >>= type;
  });
  return type;
}

sal_Int16 DocumentState::FormatType(sal_Int32 key) {
  auto it = formatTypes.find(key);
  if (it != formatTypes.end()) return it->second;
  return formatTypes[key] = NumberFormatType(document, key);
}

DocumentKinds DocumentState::Kinds() {
  css::util::Date base;
  Remote("NullDate", [&] {
    Reference<css::beans::XPropertySet>(document, UNO_QUERY_THROW)->getPropertyValue(ToOU("NullDate")) >>= base;
  });
  using namespace std::chrono;
  const auto days = sys_days(year(base.Year) / base.Month / base.Day) - sys_days(year(1899) / 12 / 30);
  return DocumentKinds{IsExcelFilter(filter), static_cast<double>(days.count())};
}

sal_Int32 DocumentState::StandardFormat(sal_Int16 type) {
  auto it = standardFormats.find(type);
  if (it != standardFormats.end()) return it->second;
  const sal_Int32 key = Remote("getStandardFormat", [&] {
    Reference<css::util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
    Reference<css::util::XNumberFormatTypes> types(supplier->getNumberFormats(), UNO_QUERY_THROW);
    return types->getStandardFormat(type, css::lang::Locale(ToOU("ja"), ToOU("JP"), rtl::OUString()));
  });
  formatTypes[key] = type;
  return standardFormats[type] = key;
}

Workbook::Workbook(std::shared_ptr<DocumentState> document) : document_(std::move(document)) {}

Worksheet Workbook::Sheets(const std::string& name) {
  SheetData& data = document_->Sheet(name);
  return Worksheet(std::make_shared<SheetState>(SheetState{document_, &data}));
}

Window Workbook::Windows(const std::string& name) {
  document_->EnsureAlive();
  if (!EqualIgnoringAsciiCase(name, document_->windowName)) {
    Raise(err::kSubscriptOutOfRange,
          StandardDescription(err::kSubscriptOutOfRange) + " (ウィンドウ \"" + name + "\" がありません)");
  }
  return Window(document_);
}

std::shared_ptr<excel::Application> Workbook::Application() { return document_->application->shared_from_this(); }

void Workbook::SaveAs(const std::string& path) { SaveAs(path, true); }

void Workbook::SaveAs(const std::string& path, bool replaceExisting) {
  std::error_code ec;
  const fs::path target = fs::absolute(path, ec).lexically_normal();
  const PinnedFolder folder(ec ? std::string() : target.parent_path().string());
  SaveAs(path, replaceExisting, folder);
}

void Workbook::SaveAs(const std::string& path, bool replaceExisting, const PinnedFolder& folder) {
  document_->EnsureAlive();
  document_->FlushAll();
  std::error_code ec;
  const fs::path target = path.empty() ? fs::path() : fs::absolute(path, ec).lexically_normal();
  if (path.empty() || ec || !target.has_filename()) CannotSave(path, "ファイル名が正しくありません。");
  if (!folder.Valid()) CannotSave(path, "フォルダー '" + target.parent_path().string() + "' が存在しません。");
  const std::string name = target.filename().string();
  if (const auto existing = folder.Stat(name)) {
    if (S_ISDIR(existing->st_mode)) CannotSave(path, "同じ名前のフォルダーがあります。");
    if (!S_ISREG(existing->st_mode)) CannotSave(path, "通常のファイルではありません。");
    if (!replaceExisting) CannotSave(path, "同じ名前のファイルが既に存在します。");
  }

  // Stored into a private folder beside the target, then renamed into
  // place within the pinned folder: the target never holds a half-written
  // file, the temporary files LibreOffice makes while storing stay inside
  // that folder, which goes away whatever happens to the office, and the
  // rename cannot be redirected through a path swapped in meanwhile.
  RemoveStaleSaveFolders(folder);
  const SaveFolder staging(folder, path);
  const std::string temp = staging.PathFor(name, path);
  const rtl::OUString filter = FilterForTarget(target, document_->filter);
  try {
    Remote("SaveAs", [&] {
      css::uno::Sequence<css::beans::PropertyValue> args(2);
      args.getArray()[0].Name = ToOU("FilterName");
      args.getArray()[0].Value <<= filter;
      args.getArray()[1].Name = ToOU("Overwrite");
      args.getArray()[1].Value <<= true;
      Reference<css::frame::XStorable>(document_->document, UNO_QUERY_THROW)->storeToURL(FileUrl(temp), args);
    });
  } catch (const PlatformError& e) {
    // The office's own words name its internals; the user needs the target
    // and what to check. A dead instance or a limit keeps its own error.
    if (e.Number() != err::kApplicationDefined) throw;
    CannotSave(path, "書き込みできません。フォルダーの権限、ディスクの空き、ファイル名の長さを確認してください。");
  }
  // A new file gets the permissions any new file of this user gets. When
  // that cannot be learnt or set, the file keeps the office's own mode; it
  // is written all the same.
  if (const auto mask = CurrentUmask()) {
    const int fd = openat(staging.Fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      (void)!fchmod(fd, 0666 & ~*mask);
      close(fd);
    }
  }
  if (renameat2(staging.Fd(), name.c_str(), folder.Fd(), name.c_str(), replaceExisting ? 0 : RENAME_NOREPLACE) != 0)
    CannotSave(path, std::strerror(errno));
  document_->windowName = name;
}

Window::Window(std::shared_ptr<DocumentState> document) : document_(std::move(document)) {}

void Window::SetVisible(bool) {
  // The instance is headless: there is no screen to show the window on.
  // Showing it is still a point where the document is observed, so the
  // buffered cells go over now, as they would have one by one.
  document_->EnsureAlive();
  document_->FlushAll();
}

}  // namespace pendra::excel
