#include "WindowPos.h"

#include <QMargins>
#include <QWidget>
#include <QWindow>

namespace pendra::app {

namespace {

void SetStaysOnTop(QWidget* w, bool on) {
  Qt::WindowFlags flags = w->windowFlags();
  if (flags.testFlag(Qt::WindowStaysOnTopHint) == on) return;
  flags.setFlag(Qt::WindowStaysOnTopHint, on);
  // setWindowFlag() would destroy and re-create the native window (a new
  // X window: flicker, and the position comes back off by the frame).
  // Overriding the widget's flags and handing them to the existing QWindow
  // changes only the _NET_WM_STATE_ABOVE state of the same window.
  w->overrideWindowFlags(flags);
  if (QWindow* handle = w->windowHandle()) handle->setFlags(flags);
}

}  // namespace

bool SetWindowPos(QWidget* hWnd, int hWndInsertAfter, int x, int y, int cx, int cy,
                  unsigned wFlags) {
  if (hWnd == nullptr) return false;
  if (hWndInsertAfter == HWND_TOPMOST) SetStaysOnTop(hWnd, true);
  if (hWndInsertAfter == HWND_NOTOPMOST) SetStaysOnTop(hWnd, false);
  if (!(wFlags & SWP_NOMOVE)) hWnd->move(x, y);  // move() places the frame
  if (!(wFlags & SWP_NOSIZE)) {
    // cx, cy are the frame's size; the widget's size is the client area.
    const QRect frame = hWnd->frameGeometry();
    const QRect client = hWnd->geometry();
    const int extraW = frame.width() - client.width();
    const int extraH = frame.height() - client.height();
    hWnd->resize(cx - extraW, cy - extraH);
  }
  if (wFlags & SWP_SHOWWINDOW) hWnd->show();
  // Entering the band also brings the window to the top of it.
  if (hWndInsertAfter == HWND_TOPMOST && hWnd->isVisible()) hWnd->raise();
  return true;
}

bool IsTopmost(const QWidget* hWnd) {
  return hWnd != nullptr && hWnd->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

}  // namespace pendra::app
