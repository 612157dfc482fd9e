// What every part of the layer needs from UNO: text in both directions, file
// URLs, the client runtime, and the translation of UNO exceptions into the
// numbered errors the jobs handle.
#pragma once

#include <string>

#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include "core/PlatformError.h"

namespace pendra::excel {

namespace css = ::com::sun::star;

rtl::OUString ToOU(const std::string& utf8);
std::string FromOU(const rtl::OUString& text);

// file:/// URL of a local path (relative paths taken from the current
// folder); percent-encodes what needs it (blank, '#', '%', Japanese).
rtl::OUString FileUrl(const std::string& path);

// The process-wide UNO client runtime, bootstrapped once. URE_BOOTSTRAP is
// set first: without it creating remote services crashes instead of
// throwing.
css::uno::Reference<css::uno::XComponentContext> ClientContext();

// Japanese descriptions of the layer's own failures.
namespace text {
inline constexpr const char* kInstanceGone =
    "オートメーション エラーです。スプレッドシート アプリケーションとの接続が切れました (アプリケーションが終了したか、応答しません)。";
inline constexpr const char* kCannotStart =
    "ActiveX コンポーネントはオブジェクトを作成できません。スプレッドシート アプリケーション (LibreOffice Calc) を起動できませんでした: ";
}  // namespace text

// Raises 440 (the instance went away) for a dead bridge, 1004 with the
// message of the application otherwise; `what` names the operation.
[[noreturn]] void RaiseFromUno(const css::uno::Exception& e, const std::string& what, bool disposed = false);

// Runs a remote operation, turning UNO exceptions into numbered errors.
template <typename F>
auto Remote(const std::string& what, F&& operation) -> decltype(operation()) {
  try {
    return operation();
  } catch (const css::lang::DisposedException& e) {
    RaiseFromUno(e, what, true);
  } catch (const css::uno::Exception& e) {
    RaiseFromUno(e, what);
  }
}

}  // namespace pendra::excel
