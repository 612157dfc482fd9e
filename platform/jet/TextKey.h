// The index key of a text value in an Access (Jet 4 / ACE) index: the bytes
// the format sorts and compares text by, so that an index we write orders
// and matches its entries exactly as Access does.
//
// A text key is built from a per-character code table of the column's sort
// order (data/text_key_codes.txt): each character contributes a weight that
// ignores letter case, kana kind (hiragana/katakana) and width, so `T001` and
// `t001`, or あ, ア and ｱ, give the same key; accents, small kana and
// characters without a weight (control characters, kanji the order does not
// know) are recorded after the weights, so they sort after otherwise equal
// texts but still make a key of their own.
//
// Key layout, for an ascending column:
//   weights  01  [extra codes]  [01 01 [kana marks ... FF 02 80 FF 80] [FF]
//   [01 unprintable codes]]  00
// The key always ends with 00. The entry flag byte in front of it (7F for a non-Null ascending value, see
// IndexData of the format) is not part of the key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pendra::jet {

// The two sort orders whose text keys we can build. Access 2000-2007 files
// (and ACE 12) use General Legacy by default, files made by Access 2010 and
// later General; any other order (a language's own, e.g. Japanese 1041) has
// code tables nobody has published, and an index in it must not be written.
enum class SortOrder { GeneralLegacy, General };

// A column descriptor stores its sort order as a locale id and a version
// (Jet 4 / ACE: the 2-byte id and the version byte of the column's sort
// order field). Gives the order for General Legacy (1033, version 0) and
// General (1033, version 1); false for every other id or version.
bool SortOrderOf(int localeId, int version, SortOrder& order);

// The longest text a key covers, in UTF-16 code units: longer values (Memo
// columns, mostly) are keyed by their first 255 units only, so texts that
// differ only after that give the same key.
inline constexpr std::size_t kMaxKeyedTextLength = 255;

// Appends the index key bytes of one text value (UTF-16 code units) for an
// ascending column, without the leading entry flag byte. The value is first
// cut to kMaxKeyedTextLength units, then its trailing blanks (U+0020 only;
// not tabs, not ideographic spaces) are dropped: "abc  " and "abc" give the
// same key. An empty text gives the key 01 00.
//
// For a descending column the format inverts every byte of this key and then
// appends one more 00 (AppendDescendingTextKey does both).
void AppendTextKey(std::u16string_view text, SortOrder order, std::string& key);

// The key of a descending column: the ascending key with every byte inverted,
// followed by 00.
void AppendDescendingTextKey(std::u16string_view text, SortOrder order, std::string& key);

}  // namespace pendra::jet
