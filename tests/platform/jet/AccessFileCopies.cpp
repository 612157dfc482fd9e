#include "AccessFileCopies.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <system_error>

#include "jet/JetFile.h"
#include "jet/TableRewrite.h"

namespace pendra::jet::test {

namespace fs = std::filesystem;

AccessFileCopies::AccessFileCopies(const std::string& prefix)
    : folder_(fs::temp_directory_path() / (prefix + "-" + std::to_string(getpid()))) {
  fs::create_directories(folder_);
}

AccessFileCopies::~AccessFileCopies() {
  std::error_code ignored;  // a destructor must not throw
  fs::permissions(folder_, fs::perms::owner_all, ignored);
  fs::remove_all(folder_, ignored);
}

std::string AccessFileCopies::Copy(const std::string& name, const std::string& as) const {
  const fs::path target = folder_ / (as.empty() ? name : as);
  fs::copy_file(std::string(PENDRA_ACCESS_TESTDATA) + "/" + name, target, fs::copy_options::overwrite_existing);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  return target.string();
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

mdb::AccessTable Read(const std::string& path, const std::string& table) {
  for (mdb::AccessTable& t : mdb::ReadAccessFile(path).tables)
    if (t.name == table) return t;
  ADD_FAILURE() << table << " not in " << path;
  return {};
}

void ExpectTheSameWithWhatIsLearntAhead(const std::string& path, const std::string& table,
                                        const std::vector<std::vector<Variant>>& rows) {
  const JetFile original(path);
  const ReadAhead ahead = ReadAheadOf(original);
  EXPECT_TRUE(ahead.checkedClean) << path;
  EXPECT_EQ(ahead.knownKeys.count(table), 1u) << table;
  const VectorRows given(rows);
  JetFile alone(original.bytes(), path), withAhead(original.bytes(), path);
  RewriteTables(alone, {{table, &given}});
  RewriteTables(withAhead, {{table, &given}}, &ahead);
  EXPECT_TRUE(alone.bytes() == withAhead.bytes()) << table;
}

}  // namespace pendra::jet::test
