// Access files in the Japanese sort order made from files in another: the
// text columns' sort order relabelled in place, nothing else touched. The
// tests and the benchmark of the Japanese rewrite start from such copies of
// tests/data/access files, whose indexed values are ASCII (keys the two
// orders share), so the copies stay sound files.
#pragma once

#include <string>

namespace pendra::jet::fixture {

// Gives every Text and Memo column of the file's user tables the sort
// order 1041 (Japanese), version 0, and writes the file back.
void RelabelJapanese(const std::string& path);

}  // namespace pendra::jet::fixture
