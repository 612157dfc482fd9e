// The application instance: creating it, its workbooks, Run and Quit, and
// binding to a file by its path.
#include <filesystem>
#include <mutex>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/script/provider/XScriptProviderSupplier.hpp>
#include <com/sun/star/script/vba/XVBAMacroResolver.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include "ExcelInternal.h"
#include "core/AsciiText.h"

namespace pendra::excel {

namespace fs = std::filesystem;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

std::mutex gInstancesMutex;
std::vector<std::weak_ptr<Application>> gInstances;

std::mutex gSpareMutex;
std::unique_ptr<OfficeProcess> gSpare;

// The spare when it still runs within its limits; a dead one is dropped.
std::unique_ptr<OfficeProcess> TakeSpare() {
  std::unique_ptr<OfficeProcess> spare;
  {
    std::lock_guard lock(gSpareMutex);
    spare = std::move(gSpare);
  }
  if (!spare) return nullptr;
  if (!spare->Running() || spare->LimitReached()) {
    spare->End(std::chrono::milliseconds(0));
    return nullptr;
  }
  spare->RestartClock();
  return spare;
}

css::beans::PropertyValue Property(const char* name, const Any& value) {
  css::beans::PropertyValue p;
  p.Name = rtl::OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

[[noreturn]] void CannotOpen(const std::string& path, const std::string& why) {
  Raise(err::kApplicationDefined, "'" + path + "' " + why);
}

}  // namespace

void Application::Impl::EnsureAlive() {
  if (office) {
    if (auto limit = office->LimitReached()) throw *limit;
  }
  if (quit || !office || !office->RunningLately()) Raise(err::kAutomationError, text::kInstanceGone);
}

std::vector<std::shared_ptr<DocumentState>> Application::Impl::OpenDocuments(
    const std::shared_ptr<excel::Application>& self) {
  std::vector<std::shared_ptr<DocumentState>> open;
  for (auto& d : documents) open.push_back(std::shared_ptr<DocumentState>(self, d.get()));
  return open;
}

std::shared_ptr<DocumentState> Application::Impl::Load(const std::shared_ptr<excel::Application>& self,
                                                       const rtl::OUString& url, const std::string& name) {
  EnsureAlive();
  // Hidden: the instance has no screen; MacroExecutionMode 0: nothing a
  // workbook carries ever runs on its own (a cell calling one of its macros
  // gets an error value instead). Run still calls a macro by name.
  // UpdateDocMode NO_UPDATE: links keep what the file stored.
  Sequence<css::beans::PropertyValue> args(3);
  args.getArray()[0] = Property("Hidden", Any(true));
  args.getArray()[1] = Property("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE));
  args.getArray()[2] = Property("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE));
  // Asking for an interface is a call to the office too: it fails like any
  // other when the office has just died.
  Reference<css::lang::XComponent> component;
  const auto sheets = Remote("Open", [&] {
    component = office->Desktop()->loadComponentFromURL(url, ToOU("_blank"), 0, args);
    return Reference<css::sheet::XSpreadsheetDocument>(component, UNO_QUERY);
  });
  // A new workbook has no format of its own yet: SaveAs picks it by the
  // target's extension.
  rtl::OUString filter;
  if (sheets.is() && url.startsWith("file:")) {
    Remote("getArgs", [&] {
      for (const auto& a : Reference<css::frame::XModel>(sheets, UNO_QUERY_THROW)->getArgs())
        if (a.Name == "FilterName") a.Value >>= filter;
    });
  }
  // Anything can be read as text: only a .csv or .txt file counts as a
  // workbook that way, not an unreadable file that merely ends in .xls.
  const std::string extension = AsciiLowered(fs::path(name).extension().string());
  const bool textAsWorkbook = filter.startsWith("Text") && extension != ".csv" && extension != ".txt";
  if (!sheets.is() || textAsWorkbook) {
    // Something that is not a workbook was opened as a text document, or
    // nothing could be read.
    if (component.is()) {
      try {
        Reference<css::util::XCloseable>(component, UNO_QUERY_THROW)->close(true);
      } catch (const css::uno::Exception&) {
      }
    }
    CannotOpen(name, "を開けません。ファイル形式またはファイル拡張子が正しくありません。ファイルが破損しておらず、ファイル拡張子とファイル形式が一致していることを確認してください。");
  }
  auto state = std::make_unique<DocumentState>();
  state->application = self.get();
  state->document = sheets;
  state->windowName = name;
  state->filter = filter;
  documents.push_back(std::move(state));
  return std::shared_ptr<DocumentState>(self, documents.back().get());
}

Application::Application() : impl_(std::make_unique<Impl>()) {}

Application::~Application() {
  if (impl_->office) impl_->office->End();
  impl_->documents.clear();
}

WorkbookCollection& Application::Workbooks() {
  impl_->EnsureAlive();
  return workbooks_;
}

std::shared_ptr<Workbook> WorkbookCollection::Add() {
  auto& impl = *owner_.impl_;
  const std::string name = "Book" + std::to_string(impl.documents.size() + 1);
  return std::shared_ptr<Workbook>(new Workbook(impl.Load(owner_.shared_from_this(), ToOU("private:factory/scalc"), name)));
}

void Application::Run(const std::string& macro) {
  impl_->EnsureAlive();
  auto documents = impl_->OpenDocuments(shared_from_this());
  for (auto& d : documents) d->FlushAll();
  // "Book.xls!Macro" names the workbook as well; the others are searched
  // from the most recently opened on.
  std::string name = macro;
  std::string book;
  if (auto bang = macro.find('!'); bang != std::string::npos) {
    book = macro.substr(0, bang);
    name = macro.substr(bang + 1);
    if (book.size() >= 2 && book.front() == '\'' && book.back() == '\'') book = book.substr(1, book.size() - 2);
  }
  for (auto it = documents.rbegin(); it != documents.rend(); ++it) {
    DocumentState& document = **it;
    if (!book.empty() && book != document.windowName) continue;
    Reference<css::script::provider::XScript> script;
    try {
      Sequence<Any> args(2);
      args.getArray()[0] <<= Reference<css::frame::XModel>(document.document, UNO_QUERY_THROW);
      args.getArray()[1] <<= ToOU("VBAProject");
      Reference<css::script::vba::XVBAMacroResolver> resolver(
          impl_->office->Context()->getServiceManager()->createInstanceWithArgumentsAndContext(
              ToOU("com.sun.star.script.vba.VBAMacroResolver"), args, impl_->office->Context()),
          UNO_QUERY_THROW);
      const rtl::OUString url = resolver->resolveVBAMacroToScriptURL(ToOU(name));
      Reference<css::script::provider::XScriptProviderSupplier> supplier(document.document, UNO_QUERY_THROW);
      script = supplier->getScriptProvider()->getScript(url);
    } catch (const css::uno::Exception&) {
      impl_->EnsureAlive();  // a dead instance is 440, not a missing macro
      continue;
    }
    if (!script.is()) continue;
    Remote("Run", [&] {
      Sequence<sal_Int16> outIndex;
      Sequence<Any> out;
      script->invoke(Sequence<Any>(), outIndex, out);
    });
    // The macro may have changed any cell of any workbook.
    for (auto& d : documents) d->ForgetReads();
    return;
  }
  Raise(err::kApplicationDefined,
        "マクロ '" + macro + "' を実行できません。このブックでマクロが使用できないか、またはすべてのマクロが無効になっている可能性があります。");
}

void Application::Quit() {
  if (impl_->quit) return;
  impl_->quit = true;
  if (impl_->office) impl_->office->End();
}

void PrepareSpareInstance() {
  {
    std::lock_guard lock(gSpareMutex);
    if (gSpare && gSpare->Running() && !gSpare->LimitReached()) return;
  }
  DropSpareInstance();
  std::unique_ptr<OfficeProcess> spare;
  try {
    spare = OfficeProcess::Start();
  } catch (const PlatformError&) {
    return;
  }
  spare->StopClock();
  std::lock_guard lock(gSpareMutex);
  gSpare = std::move(spare);
}

void DropSpareInstance() {
  std::unique_ptr<OfficeProcess> spare;
  {
    std::lock_guard lock(gSpareMutex);
    spare = std::move(gSpare);
  }
  if (spare) spare->End();
}

pid_t SpareInstancePid() {
  std::lock_guard lock(gSpareMutex);
  return gSpare ? gSpare->Pid() : -1;
}

std::shared_ptr<Application> CreateObject() {
  std::shared_ptr<Application> app(new Application());
  app->impl_->office = TakeSpare();
  if (!app->impl_->office) app->impl_->office = OfficeProcess::Start();
  std::lock_guard lock(gInstancesMutex);
  std::erase_if(gInstances, [](const auto& w) { return w.expired(); });
  gInstances.push_back(app);
  return app;
}

std::shared_ptr<Workbook> GetObject(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(fs::path(path), ec)) {
    CannotOpen(path, "が見つかりません。ファイル名およびファイルの保存場所が正しいかどうかを確認してください。");
  }
  // The instance this process created last that still runs; none: a new
  // one, owned by the workbook returned.
  std::shared_ptr<Application> app;
  {
    std::lock_guard lock(gInstancesMutex);
    for (auto it = gInstances.rbegin(); it != gInstances.rend() && !app; ++it) {
      auto candidate = it->lock();
      if (candidate && !candidate->impl_->quit && candidate->impl_->office->Running()) app = candidate;
    }
  }
  if (!app) app = CreateObject();
  const rtl::OUString url = FileUrl(path);
  for (auto& d : app->impl_->OpenDocuments(app)) {
    const auto open = Remote("getURL", [&] { return Reference<css::frame::XModel>(d->document, UNO_QUERY_THROW)->getURL(); });
    if (open == url) return std::shared_ptr<Workbook>(new Workbook(d));
  }
  return std::shared_ptr<Workbook>(new Workbook(app->impl_->Load(app, url, fs::path(path).filename().string())));
}

}  // namespace pendra::excel
