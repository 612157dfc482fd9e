// Whether a master file was saved as UTF-8 instead of code page 932: the
// programs people edit it with (Calc, Excel) offer both, and a UTF-8 file
// read as code page 932 gives either bytes it cannot decode or garbled
// names. Told by the byte order mark, or by the file's start being valid
// UTF-8 that holds Japanese: code page 932 text with Japanese in it is
// practically never valid UTF-8 (its half-width kana and most lead bytes
// are UTF-8 continuation bytes).
#pragma once

#include <string_view>

namespace pendra::tagimport {

// How much of the file's start is looked at: the answer costs no more for
// a file of any size.
inline constexpr size_t kUtf8SniffBytes = size_t{64} * 1024;

// bytes: the file's first bytes (at most kUtf8SniffBytes; a character cut
// at the end does not count against it).
bool LooksLikeUtf8(std::string_view bytes);

}  // namespace pendra::tagimport
