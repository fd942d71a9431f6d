// The frame editor's data file, fed any bytes: every non-blank line is
// either a frame or counted as refused, the first refused are named in
// order, frames never exceed the table, and what is loaded is what a line
// said.

#include "FuzzSupport.h"
#include "sessions/DataFile.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  constexpr int kRows = 20;
  const DataFileContents contents = parseDataFile(bytes, kRows);
  FUZZ_REQUIRE(contents.frames.size() <= kRows);
  const QList<QByteArray> lines = bytes.split('\n');
  qsizetype nonBlank = 0;
  for (const QByteArray& line : lines) nonBlank += QString::fromLatin1(line).trimmed().isEmpty() ? 0 : 1;
  FUZZ_REQUIRE(!contents.readFailed);
  FUZZ_REQUIRE(contents.frames.size() + contents.refusedCount == nonBlank);
  FUZZ_REQUIRE(contents.refused.size() == qMin<qint64>(contents.refusedCount, DataFileContents::kNamedRefused));
  qint64 previous = 0;
  for (const qint64 line : contents.refused) {
    FUZZ_REQUIRE(line > previous && line <= lines.size());
    previous = line;
  }
  for (const DataFrame& f : contents.frames) {
    FUZZ_REQUIRE(f.event >= -32768 && f.event <= 32767);
    FUZZ_REQUIRE(!f.unit || (*f.unit >= -32768 && *f.unit <= 32767));
  }
  return 0;
}
