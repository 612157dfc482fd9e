// pendra-mdb-read: the program that reads an Access file for the others
// (AccessFile.h), confined before it looks at anything it was given, its
// reply (Wire.h) written to its standard output as it reads.
//
//   pendra-mdb-read FILE all            every table's rows
//   pendra-mdb-read FILE only [TABLE]…  the rows of the tables named
//
// Only the programs of this tool start it, with these arguments.
#include <unistd.h>

#include <new>
#include <string>
#include <string_view>

#include "ConfinedChild.h"
#include "MdbReader.h"
#include "Wire.h"
#include "core/PlatformError.h"

namespace {

using namespace pendra;
using namespace pendra::mdb;

// Reads the file and sends what it holds, or the error that ended the reading.
void ReadAndSend(const std::string& path, const ReadOptions& options, const detail::Send& send) {
  detail::DatabaseEncoder encoder(send);
  try {
    detail::ReadInThisProcess(path, options, &encoder);
    encoder.Finish();
  } catch (const PlatformError& e) {
    encoder.Fail(e);
  } catch (const std::bad_alloc&) {
    encoder.Fail(PlatformError(err::kOutOfMemory, StandardDescription(err::kOutOfMemory)));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!detail::ConfineThisProcess(STDOUT_FILENO)) _exit(detail::kUnconfinedExit);
  if (argc < 3) _exit(2);
  const std::string_view which = argv[2];
  ReadOptions options;
  if (which == "only") {
    options.rowsOf.emplace(argv + 3, argv + argc);
  } else if (which != "all" || argc != 3) {
    _exit(2);
  }
  ReadAndSend(argv[1], options, detail::SendTo(STDOUT_FILENO));
  // Ends without running what a normal end runs (the leak check of the
  // sanitizers would start a process).
  _exit(0);
}
