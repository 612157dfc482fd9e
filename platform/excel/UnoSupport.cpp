#include "UnoSupport.h"

#include "OfficeLimits.h"

#include <csignal>
#include <filesystem>
#include <mutex>

#include <com/sun/star/lang/DisposedException.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>

namespace pendra::excel {

using rtl::OUString;

OUString ToOU(const std::string& utf8) {
  return rtl::OStringToOUString(rtl::OString(utf8.data(), static_cast<sal_Int32>(utf8.size())),
                                RTL_TEXTENCODING_UTF8);
}

std::string FromOU(const OUString& text) {
  const rtl::OString utf8 = rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8);
  return std::string(utf8.getStr(), static_cast<size_t>(utf8.getLength()));
}

OUString FileUrl(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) absolute = path;
  OUString url;
  if (osl::FileBase::getFileURLFromSystemPath(ToOU(absolute.lexically_normal().string()), url) !=
      osl::FileBase::E_None) {
    Raise(err::kApplicationDefined, "パス名が無効です: " + path);
  }
  return url;
}

css::uno::Reference<css::uno::XComponentContext> ClientContext() {
  static std::once_flag once;
  static css::uno::Reference<css::uno::XComponentContext> context;
  static std::string failure;
  std::call_once(once, [] {
    // An office that dies (killed at a limit, or by anyone) while a call
    // writes to its pipe would otherwise take this process with it through
    // SIGPIPE; ignored, the write fails and the call raises 440.
    std::signal(SIGPIPE, SIG_IGN);
    try {
      rtl::Bootstrap::set("URE_BOOTSTRAP",
                          "vnd.sun.star.pathname:" PENDRA_LO_PROGRAM "/fundamentalrc");
      context = cppu::defaultBootstrap_InitialComponentContext();
    } catch (const css::uno::Exception& e) {
      failure = FromOU(e.Message);
    }
  });
  if (!context.is()) Raise(err::kCannotCreateObject, text::kCannotStart + failure);
  return context;
}

void RaiseFromUno(const css::uno::Exception& e, const std::string& what, bool disposed) {
  // A dead or disconnected office shows up as a disposed bridge.
  const std::string message = FromOU(e.Message);
  const bool gone = disposed ||
                    message.find("disposed") != std::string::npos ||
                    message.find("Binary URP bridge") != std::string::npos;
  if (gone) {
    // Killed by the watcher: say which limit ended it.
    if (auto limit = LastLimitReached()) throw *limit;
    Raise(err::kAutomationError, text::kInstanceGone);
  }
  std::string description = StandardDescription(err::kApplicationDefined);
  if (!what.empty()) description += " (" + what + ")";
  if (!message.empty()) description += ": " + message;
  Raise(err::kApplicationDefined, description);
}

}  // namespace pendra::excel
