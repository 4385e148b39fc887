// The window ended from outside while it writes: it ends at once with the
// status of a terminated program, and leaves no temporary and every earlier
// file as it was.

#include <sys/wait.h>

#include <QtTest>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>

#include "../cli/interrupt_run.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

using namespace morvane;
using namespace morvane::test;

namespace {

// A stream of exactly 1 GiB, dense with small sound chunks, written a piece
// at a time.
void WriteGigabyteStream(const std::string& path) {
  StreamBuilder piece;
  for (int i = 0; i < 21845; ++i) piece.Ssmp(PatternBytes(24, static_cast<std::uint32_t>(i % 7)), i, 0);
  std::ofstream out(path, std::ios::binary);
  const Bytes head = StreamBuilder().Shdr({}).bytes();
  out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  std::int64_t written = static_cast<std::int64_t>(head.size());
  for (int i = 0; i < 1024; ++i) {
    out.write(reinterpret_cast<const char*>(piece.bytes().data()),
              static_cast<std::streamsize>(piece.size()));
    written += static_cast<std::int64_t>(piece.size());
  }
  const Bytes fill =
      StreamBuilder()
          .Sized("FILL", Bytes(static_cast<std::size_t>((std::int64_t{1} << 30) - written - 8)))
          .bytes();
  out.write(reinterpret_cast<const char*>(fill.data()), static_cast<std::streamsize>(fill.size()));
}

}  // namespace

class EndTest : public QObject {
  Q_OBJECT

 private slots:
  void endedWhileWritingLeavesNothingBehind();
};

void EndTest::endedWhileWritingLeavesNothingBehind() {
  TempDir dir;
  const std::string stream = dir.File("many.str");
  WriteGigabyteStream(stream);
  QCOMPARE(std::filesystem::file_size(stream), std::uintmax_t{1} << 30);
  const Bytes earlier = PatternBytes(100, 7);
  struct Case {
    const char* drop;
    const char* earlierOutput;
    int signalNumber;
  };
  const Case cases[] = {
      {"button", "many.str.MAP", SIGTERM},         // Analyze File writing the map
      {"window", "many.str0.sound.wav", SIGTERM},  // the batch writing a WAV
      {"button", "many.str.MAP", SIGHUP},
  };
#if defined(__SANITIZE_ADDRESS__)
  const auto promptly = std::chrono::seconds(5);  // the leak check at the end takes its time
#else
  const auto promptly = std::chrono::seconds(1);
#endif
  for (const Case& c : cases) {
    const std::string output = dir.File(c.earlierOutput);
    WriteFile(output, earlier);
    const Interrupted run =
        InterruptWhileWriting(MORVANE_WINDOW_PROBE, {c.drop, stream}, dir.path().string(), c.signalNumber);
    QVERIFY2(run.status != -1, "no temporary appeared");
    QVERIFY(WIFEXITED(run.status));
    QCOMPARE(WEXITSTATUS(run.status), 128 + c.signalNumber);
    QVERIFY2(run.tookToEnd < promptly, std::to_string(run.tookToEnd.count()).c_str());
    QVERIFY(ReadAll(output) == earlier);
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      names.insert(entry.path().filename());
    QCOMPARE(names, (std::set<std::string>{"many.str", c.earlierOutput}));
    std::filesystem::remove(output);
  }
}

QTEST_APPLESS_MAIN(EndTest)
#include "end_test.moc"
