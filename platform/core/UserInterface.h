// What the jobs ask of the window system, and nothing more. The window
// implements it with Qt; the batch command implements it on a terminal;
// tests script the parts a person would answer. Keeps the job code free of
// any toolkit.
#pragma once

#include <string>
#include <string_view>

namespace pendra {

// The title of every message box of the program's own.
inline constexpr const char* kMessageBoxTitle = "確認";

// YesNo: Yes is the default button. YesNoDefaultNo: No is, for a question
// whose Yes destroys something (replacing a file), so that Enter keeps it.
enum class MsgBoxButtons { OkOnly, YesNo, YesNoDefaultNo };
enum class MsgBoxResult { Ok, Yes, No };

// Thrown out of DoEvents() when the user ended the program ("終了") while a
// job let the window process its messages. The job unwinds (its transaction
// rolls back, its spreadsheet instance ends) and the handler ends the program.
struct ProgramEndRequested {};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Modal message box with the given title and no icon.
  virtual MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                              std::string_view title) = 0;

  // A question asked before rows are lost (default No). The window asks it
  // like any other; the batch command answers Yes only when told to accept
  // lost rows, never because the confirmation was answered in advance.
  virtual MsgBoxResult AskBeforeLoss(std::string_view question) {
    return MsgBox(question, MsgBoxButtons::YesNoDefaultNo, kMessageBoxTitle);
  }

  // The application-wide mouse pointer: the wait pointer (11) or the
  // default pointer (0).
  virtual void SetWaitPointer(bool wait) = 0;

  // Lets the window process its pending messages once. May throw
  // ProgramEndRequested, and PlatformError 18 when the person cancelled the
  // job.
  virtual void DoEvents() = 0;

  // The topmost placement: into the topmost band (true, HWND_TOPMOST) or out
  // of it (false, HWND_NOTOPMOST), the window moved to its own position.
  virtual void SetTopmost(bool topmost) = 0;

  // Ends the program at once, from inside a handler.
  virtual void EndProgram() = 0;

  // Makes the drive of the path the current drive. Linux has no drive
  // letters: succeeds and changes nothing.
  virtual void ChDrive(std::string_view /*path*/) {}

  // The text of the path box txtBackDbPath.
  virtual std::string PathBoxText() = 0;

  // The folder that holds the program's executable, without a trailing
  // separator.
  virtual std::string BaseFolder() = 0;

  // Progress of long work: rows done out of rows (total < 0 when unknown),
  // per table. The window shows it in its progress window; the batch
  // command prints it on a terminal. The window's version throws when the
  // person cancelled the job (PlatformError 18) or ended the program
  // (ProgramEndRequested), as DoEvents does.
  virtual void ReportProgress(std::string_view /*table*/, long /*done*/, long /*total*/) {}
};

}  // namespace pendra
