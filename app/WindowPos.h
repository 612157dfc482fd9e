// The one placement call of the window: moves a top-level window and puts
// it into or takes it out of the topmost band ("stay on top"), with the
// arguments of the desktop call it stands for.
#pragma once

class QWidget;

namespace pendra::app {

// Insert-after values.
inline constexpr int HWND_TOP = 0;
inline constexpr int HWND_BOTTOM = 1;
inline constexpr int HWND_TOPMOST = -1;
inline constexpr int HWND_NOTOPMOST = -2;

// Flags.
inline constexpr unsigned SWP_NOSIZE = 0x0001;
inline constexpr unsigned SWP_NOMOVE = 0x0002;
inline constexpr unsigned SWP_SHOWWINDOW = 0x0040;

// x, y place the frame's top-left corner, cx, cy give the frame's size, in
// pixels; negative positions are passed on unchanged. HWND_TOPMOST and
// HWND_NOTOPMOST switch "stay on top" on the existing native window (no
// re-creation, so the window neither flickers nor moves); other insert-after
// values leave it as it is. Returns false only for a null window; callers
// do not look at the result.
bool SetWindowPos(QWidget* hWnd, int hWndInsertAfter, int x, int y, int cx, int cy,
                  unsigned wFlags);

// Whether the window asks to stay on top.
bool IsTopmost(const QWidget* hWnd);

}  // namespace pendra::app
