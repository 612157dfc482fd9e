// Text index keys of Jet 3 files (sort order "General", the Access 97 one),
// for checking their indexes; we never write Jet 3. Characters up to U+00FF
// have a code each, a few beyond map onto one of those, all others carry no
// weight. Per character: inline code bytes; "international" characters add
// a nibble after the weights, with placeholder nibbles (2) for the
// "significant" characters since the last such nibble.
#pragma once

#include <string>
#include <string_view>

namespace pendra::jet {

// Appends the key of one text value for an ascending column, without the
// entry flag byte (cut to 255 units, trailing blanks dropped).
void AppendGeneral97TextKey(std::u16string_view text, std::string& key);

}  // namespace pendra::jet
