// What the program sets up once, after the application object exists and
// before any window: its name and version, the font substitution, Qt's
// Japanese texts and the window icon.
#pragma once

#include "core/Version.h"

class QApplication;

namespace pendra::app {

inline constexpr const char* kProgramName = kProductName;
inline constexpr const char* kProgramVersion = kVersionText;

// The family the window asks for. Debian's Japanese fonts do not answer to
// it, so ConfigureApplication() maps it (and its English name) to IPA P
// Gothic, the proportional Japanese gothic closest to it.
inline constexpr const char* kWindowFontFamily = "ＭＳ Ｐゴシック";
inline constexpr const char* kSubstituteFamily = "IPAPGothic";

// Returns false when Qt's Japanese translation could not be loaded (the
// dialogs then speak English); everything else cannot fail.
bool ConfigureApplication(QApplication& app);

}  // namespace pendra::app
