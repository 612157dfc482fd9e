// The index key of a text value in an Access (Jet 4 / ACE) index: the bytes
// the format sorts and compares text by, so that an index we write orders
// and matches its entries exactly as Access does.
//
// A text key is built from a per-character code table of the column's sort
// order (data/text_key_codes.txt): each character contributes a weight that
// ignores letter case, kana kind (hiragana/katakana) and width, so `T001` and
// `t001`, or あ, ア and ｱ, give the same key. Accents, voicing marks and
// small kana, and characters without a weight of their own (hyphen,
// apostrophe, control characters), are recorded after the weights: they
// sort after otherwise equal texts but make a key of their own. A few
// characters leave no trace at all (U+0000; in General Legacy the kanji
// after U+9FA5 and other characters its tables do not know).
//
// Key layout, for an ascending column (bytes in hex, [] when present):
//   weights  01  [extra codes]
//            [01 01  [kana section  [FF]]  [01 unprintable codes]]
//            00
// kana section: small marks  FF  prolonged marks  02 80.. FF 80..
// Per kana, the small marks hold 2 (small) or 3, the prolonged marks 3 (ー)
// or 1, each packed three to a byte (10aabbcc) without the 3s / 1s at their
// end; a ー weighs as the preceding kana's vowel and takes its small mark.
// The 80s are one byte for up to 7 kana, two for 8 to 14 (measured; more
// kana are refused).
// The part after the extra codes is there when the text holds kana or
// characters without a weight. The key always ends with 00. It carries no
// entry flag byte: in an index entry each column's value is its flag byte
// (7F ascending, 80 descending; a Null value is the flag alone, 00 ascending,
// FF descending) followed by its key, and the entry ends with the 3-byte page
// and 1-byte row of the row it indexes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pendra::jet {

// The sort orders whose text keys we can build. Access 2000-2007 files (and
// ACE 12) use General Legacy by default, files made by Access 2010 and later
// General, and every file made by a Japanese Access Japanese (1041): its
// ASCII and kana key as in General Legacy, its kanji by weights of Jet's own
// that only the keys Access wrote show (data/japanese_text_key_codes.txt
// holds those we have seen). Any other order has code tables nobody has
// published, and an index in it must not be written.
enum class SortOrder { GeneralLegacy, General, Japanese };

// A column descriptor stores its sort order as a locale id and a version
// (Jet 4 / ACE: the 2-byte little-endian id at byte 11 of the 25-byte
// descriptor, the version at byte 14). Gives the order for General Legacy (1033, version 0),
// General (1033, version 1) and Japanese (1041, version 0); false for every other id or version.
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
// A key is built only when every character and rule that makes it is known
// to give Access's bytes. Otherwise nothing is appended, false is returned
// and `refusal` (when given) names the first character that cannot be keyed:
// one the order's table does not know (in Japanese: kanji never seen, most
// symbols), a ー not after a kana with a vowel, a 々 not after a kanji, more
// than 14 kana (the kana section's closing parts are known that far; in
// General, whose kana section nobody measured, 7 kana and no ー), or an
// unprintable character (hyphen, apostrophe) beside kana the old layout
// does not cover (a ー, 8 kana or more) or, in Japanese, beside anything
// beyond ASCII.
//
// For a descending column the format inverts every byte of this key and then
// appends one more 00 (AppendDescendingTextKey does both).
struct TextKeyRefusal {
  std::size_t position = 0;  // in the keyed text (its first 255 units)
  char16_t unit = 0;
};
bool AppendTextKey(std::u16string_view text, SortOrder order, std::string& key,
                   TextKeyRefusal* refusal = nullptr);

// The key of a descending column: the ascending key with every byte inverted,
// followed by 00.
bool AppendDescendingTextKey(std::u16string_view text, SortOrder order, std::string& key,
                             TextKeyRefusal* refusal = nullptr);

}  // namespace pendra::jet
