#include "core/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>

#include "core/errors.h"
#include "core/gauge_model.h"
#include "core/shared_state.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

TEST(SupportTest, ParseLeadingInt) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"", 0},
      {"441x", 441},
      {"x441", 0},
      {" 441", 0},
      {"-5", -5},
      {"+7", 7},
      {"+-5", 0},
      {"99999", 99999},
      {"22050", 22050},
      {"-", 0},
      {"4294967297", 1},  // wraps in 32 bits
      {"2147483648", std::numeric_limits<std::int32_t>::min()},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(value, ParseLeadingInt(text)) << '"' << text << '"';
}

TEST(SupportTest, DecimalText) {
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {0, "0"}, {-12, "-12"}, {7, "7"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(text, DecimalText(value));
}

TEST(SupportTest, TrimBlanks) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {" \t \r\n", ""}, {"  a b\t", "a b"}, {"x", "x"}, {"", ""}, {"\x01path\x1f", "path"}};
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(trimmed, TrimBlanks(text));
}

TEST(SupportTest, QueryFileSizeKeepsTheLow32BitsSigned) {
  test::TempDir dir;
  EXPECT_EQ(0, QueryFileSize(""));
  EXPECT_EQ(0, QueryFileSize(dir.File("missing")));
  EXPECT_EQ(3, QueryFileSize(dir.Write("three", {1, 2, 3})));
  // Sparse files stand in for large ones.
  const std::vector<std::pair<std::uint64_t, std::int32_t>> large = {{3000000000ull, -1294967296},
                                                                     {5000000000ull, 705032704}};
  for (const auto& [size, expected] : large) {
    const std::string path = dir.File("large");
    std::filesystem::resize_file(dir.Write("large", {}), size);
    EXPECT_EQ(expected, QueryFileSize(path)) << size;
  }
}

TEST(SupportTest, ErrorTextsAndTheFullStopRule) {
  const std::vector<std::pair<int, std::string>> texts = {
      {2, "File not found"},     {3, "Invalid filename"},          {4, "Too many open files"},
      {5, "File access denied"}, {100, "Read beyond end of file"}, {101, "Disk full"},
      {103, "I/O error 103"},    {1005, "I/O error 1005"}};
  for (const auto& [code, text] : texts) EXPECT_EQ(text, ErrorText(code));
  EXPECT_EQ("Disk full.", ErrorBoxText("Disk full"));
  EXPECT_EQ("Done.", ErrorBoxText("Done."));
  EXPECT_EQ("", ErrorBoxText(""));
  EXPECT_EQ("file\"", ErrorBoxText("file\""));                 // '"' is code 34
  EXPECT_EQ("I/O error 103.", ErrorBoxText("I/O error 103"));  // '3' is code 51
}

TEST(GaugeModelTest, PercentWithoutOverflow) {
  struct Case {
    std::int32_t minimum, maximum, position;
    int percent;
  };
  const std::vector<Case> cases = {{0, 100, 50, 50},
                                   {0, 0, 0, 0},
                                   {0, 3, 1, 33},
                                   {0, 2147483647, 2147483647, 100},
                                   {0, 2147483647, 21474836, 0},
                                   {-2147483647 - 1, 2147483647, 0, 50},
                                   {0, 1000, 999, 99}};
  for (const auto& c : cases) EXPECT_EQ(c.percent, GaugeModel::PercentOf(c.minimum, c.maximum, c.position));
}

TEST(GaugeModelTest, RangeRulesAndErrors) {
  GaugeModel gauge;
  gauge.SetMaximum(50);
  gauge.SetPosition(80);
  EXPECT_EQ(50, gauge.Position());  // clamped
  gauge.SetPosition(-3);
  EXPECT_EQ(0, gauge.Position());
  try {
    gauge.SetMinimum(60);
    FAIL();
  } catch (const CommandError& error) {
    EXPECT_EQ("Value must be between -2147483647 and 49", error.text());
  }
  gauge.SetMinimum(10);
  EXPECT_EQ(10, gauge.Position());  // pulled into the range
  try {
    gauge.SetMaximum(-5);
    FAIL();
  } catch (const CommandError& error) {
    EXPECT_EQ("Value must be between 11 and 2147483647", error.text());
  }
  gauge.SetMinimum(0);
  try {
    gauge.SetMaximum(-1294967296);
    FAIL();
  } catch (const CommandError& error) {
    EXPECT_EQ("Value must be between 1 and 2147483647", error.text());
  }
}

TEST(GaugeModelTest, RepaintsOnlyWhenThePercentChanges) {
  GaugeModel gauge;
  int repaints = 0;
  gauge.onRepaint = [&] { ++repaints; };
  gauge.SetMaximum(1000);
  EXPECT_EQ(1, repaints);
  gauge.SetMaximum(1000);  // unchanged: nothing
  EXPECT_EQ(1, repaints);
  std::vector<int> seen;
  gauge.onRepaint = [&] { seen.push_back(gauge.Percent()); };
  for (int p = 0; p <= 1000; p += 2) gauge.SetPosition(p);
  ASSERT_EQ(100u, seen.size());  // 1% .. 100%, once each
  for (int i = 0; i < 100; ++i) EXPECT_EQ(i + 1, seen[i]);
  for (int p = 998; p >= 0; p -= 2) gauge.SetPosition(p);
  EXPECT_EQ(200u, seen.size());
  EXPECT_EQ(0, gauge.Percent());
}

// Progress for many calls at once leaves the gauge where as many single calls
// would, the maximum holding it in.
TEST(GaugeModelTest, ProgressForManyCallsEqualsThatManySingleCalls) {
  struct Case {
    std::int32_t total, start;
    std::uint8_t step;
    std::int64_t calls;
  };
  const Case cases[] = {{1000, 0, 2, 0},   {1000, 0, 2, 1},  {1000, 10, 2, 300}, {1000, 0, 2, 600},
                        {1000, 999, 1, 5}, {1000, 40, 0, 3}, {7, 0, 2, 4},       {0, 0, 2, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.total) + "/" + std::to_string(c.start) + "/" + std::to_string(c.step) +
                 "/" + std::to_string(c.calls));
    SharedState state;
    state.TotalSize = c.total;
    state.ProgressStep = c.step;
    test::RecordingWindow once;
    test::RecordingWindow single;
    for (test::RecordingWindow* window : {&once, &single}) {
      window->gauge.SetMaximum(std::max(c.total, c.start));
      window->gauge.SetPosition(c.start);
    }
    Progress(state, once, c.calls);
    for (std::int64_t i = 0; i < c.calls; ++i) Progress(state, single);
    EXPECT_EQ(single.gauge.Position(), once.gauge.Position());
    EXPECT_EQ(single.gauge.Maximum(), once.gauge.Maximum());
    EXPECT_EQ(single.gauge.Percent(), once.gauge.Percent());
  }
}

}  // namespace
}  // namespace morvane
