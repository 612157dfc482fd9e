// The exchange that ends an atomic write: a file another program renamed
// into the target's place after the writer's last look is put back, and the
// writer's own file goes, whoever acts in between.
#include "core/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/PlatformError.h"

namespace pendra {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(AtomicFile, AFileRenamedIntoPlaceAfterTheLastLookIsPutBack) {
  const fs::path folder = fs::temp_directory_path() / ("pendra-atomic-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path target = folder / "db.mdb";
  const struct {
    const char* what;
    bool otherProgramWrites;
    std::string expected;
  } cases[] = {{"nobody else", false, "ours"}, {"another program renames its file in", true, "theirs"}};
  for (const auto& c : cases) {
    std::ofstream(target, std::ios::binary | std::ios::trunc) << "as read";
    struct stat read {};
    ASSERT_EQ(::stat(target.c_str(), &read), 0);
    bool refused = false;
    try {
      AtomicFile file(target.string());
      file.Write("ours");
      file.Commit(
          [&] {
            // After the writer's last look, before its rename.
            if (!c.otherProgramWrites) return;
            std::ofstream(folder / "other", std::ios::binary) << "theirs";
            fs::rename(folder / "other", target);
          },
          [&](const struct stat& aside) {
            if (aside.st_ino != read.st_ino) Raise(err::kDataChanged, "changed");
          });
    } catch (const PlatformError& e) {
      refused = e.Number() == err::kDataChanged;
    }
    EXPECT_EQ(refused, c.otherProgramWrites) << c.what;
    EXPECT_EQ(Read(target), c.expected) << c.what;
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++files;
    EXPECT_EQ(files, 1u) << c.what << ": nothing but the database is left";
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace pendra
