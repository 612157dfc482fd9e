// Text as the file stores it, to and from UTF-16: Jet 4 and ACE store
// UTF-16LE, "compressed" (marker FF FE, then runs of one-byte Latin-1
// characters and two-byte ones, each 00 byte switching) where the column
// allows it; Jet 3 stores the bytes of the database's code page.
#pragma once

#include <string>

#include "JetFile.h"

namespace pendra::jet {

// The stored bytes of a text value as UTF-16 code units; false when they do
// not decode.
bool StoredToUtf16(const JetFile& file, const std::string& stored, std::u16string& out);
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// A name of a table, column or index, as UTF-8 (undecodable bytes as '?').
std::string DecodeName(const JetFile& file, const std::string& stored);
// The stored bytes of a text value for a Jet 4 / ACE column: compressed when
// the column allows it and that is shorter, plain UTF-16LE otherwise.
std::string EncodeStoredText(std::u16string_view text, bool compressible);

}  // namespace pendra::jet
