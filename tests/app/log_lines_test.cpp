#include "app/log_lines.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace console {
namespace {

// Lines of every size, against budgets small enough to be met often: the store keeps what a
// plain list that lets its oldest lines go would keep.
TEST(LogLines, KeepTheNewestLinesWithinBothBudgets) {
  std::mt19937 random(7);
  for (const auto& [maxLines, maxBytes] :
       {std::pair<size_t, size_t>{50, 1 << 20}, {100000, 300000}, {3, 10}}) {
    LogLines store(maxLines, maxBytes);
    std::deque<std::string> reference;
    size_t referenceBytes = 0;
    for (int i = 0; i < 20000; ++i) {
      const size_t size = random() % 8 == 0 ? random() % 300000 : random() % 100;
      const std::string line(size, static_cast<char>('a' + i % 26));
      store.Append(line);
      reference.push_back(line);
      referenceBytes += size;
      while (reference.size() > maxLines || (reference.size() > 1 && referenceBytes > maxBytes)) {
        referenceBytes -= reference.front().size();
        reference.pop_front();
      }
      ASSERT_EQ(store.Count(), reference.size()) << i;
      ASSERT_EQ(store.Bytes(), referenceBytes) << i;
      ASSERT_EQ(store.Line(0), reference.front()) << i;
      ASSERT_EQ(store.Line(store.Count() - 1), reference.back()) << i;
      ASSERT_EQ(store.Dropped(), static_cast<uint64_t>(i + 1) - reference.size());
    }
    std::string text;
    for (const std::string& line : reference) text += line + "\n";
    EXPECT_EQ(store.Text(), text);
    store.Clear();
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(store.Bytes(), 0u);
  }
}

}  // namespace
}  // namespace console
