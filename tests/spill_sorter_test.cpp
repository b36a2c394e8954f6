// Sorting through a temporary file: the order is the same however many runs the records took.
#include "platform/spill_sorter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/random_bytes.h"

namespace vm {
namespace {

bool Shorter(std::string_view a, std::string_view b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

TEST(SpillSorter, GivesTheRecordsInOrderFromMemoryOrFromManyRuns) {
  // Records of every length up to far beyond a run's read block, empty ones and equal ones.
  std::vector<std::string> records = {"", "", "same", "same"};
  for (size_t i = 0; i < 3000; ++i) {
    records.push_back(vmtest::RandomBytes(i % 7 == 0 ? 40'000 : i % 97, i));
  }
  struct TCase {
    const char* label;
    size_t memoryLimit;
    bool spilled;
  };
  const TCase cases[] = {{"all held", size_t{64} << 20, false},
                         {"a run per few records", 50'000, true}};
  std::vector<std::string> expected = records;
  std::sort(expected.begin(), expected.end(), Shorter);
  for (const TCase& c : cases) {
    TSpillSorter sorter(Shorter, c.memoryLimit);
    for (const std::string& record : records) sorter.Add(record);
    std::vector<std::string> sorted;
    for (std::string_view record; sorter.Next(record);) sorted.emplace_back(record);
    EXPECT_EQ(sorter.Runs() > 10, c.spilled) << c.label << ": " << sorter.Runs() << " runs";
    EXPECT_TRUE(sorted == expected) << c.label;
    EXPECT_EQ(sorter.Count(), records.size()) << c.label;
  }
}

}  // namespace
}  // namespace vm
