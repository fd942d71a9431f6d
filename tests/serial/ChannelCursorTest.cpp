#include "core/ChannelCursor.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

using namespace kestrel;

namespace {

enum class Op { Take, Rewind, Restart };

struct Step {
  Op op;
  QList<qint64> taken;  // what a take hands out
  qint16 pos, remain, frameCount;
};

struct CursorCase {
  std::string name;
  QList<qint64> list;
  int unit;
  std::vector<Step> steps;
};

void PrintTo(const CursorCase& c, std::ostream* os) { *os << c.name; }

class Cursor : public testing::TestWithParam<CursorCase> {};

}  // namespace

TEST_P(Cursor, MovesAsTheWindowsDo) {
  const CursorCase& c = GetParam();
  ChannelCursor<qint64> cursor;
  cursor.load(c.list, c.unit);
  EXPECT_EQ(cursor.ListPos, 0);
  EXPECT_EQ(cursor.ListRemain, c.list.size());
  EXPECT_EQ(cursor.ListTotal, c.list.size());
  EXPECT_EQ(cursor.ChannelUnit, c.unit);
  ASSERT_EQ(cursor.ChannelList.size(), std::size_t(c.list.size()) + 1);
  for (std::size_t i = 0; i < c.steps.size(); ++i) {
    const Step& s = c.steps[i];
    switch (s.op) {
      case Op::Take: EXPECT_EQ(cursor.take(), s.taken) << "step " << i; break;
      case Op::Rewind: cursor.rewind(); break;
      case Op::Restart: cursor.restart(); break;
    }
    EXPECT_EQ(cursor.ListPos, s.pos) << "step " << i;
    EXPECT_EQ(cursor.ListRemain, s.remain) << "step " << i;
    EXPECT_EQ(cursor.FrameCount, s.frameCount) << "step " << i;
    EXPECT_EQ(cursor.ListTotal, c.list.size()) << "step " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Cursor,
    testing::Values(
        CursorCase{"LastTakeIsShortThenNothing",
                   {1, 2, 3, 4, 5},
                   2,
                   {{Op::Take, {1, 2}, 2, 3, 2}, {Op::Take, {3, 4}, 4, 1, 2}, {Op::Take, {5}, 5, 0, 1},
                    {Op::Take, {}, 5, 0, 0}}},
        CursorCase{"UnitLargerThanTheList", {7, 8}, 99, {{Op::Take, {7, 8}, 2, 0, 2}}},
        CursorCase{"RewindPutsBackTheLastTakeOnly",
                   {1, 2, 3, 4, 5},
                   2,
                   {{Op::Take, {1, 2}, 2, 3, 2}, {Op::Take, {3, 4}, 4, 1, 2}, {Op::Rewind, {}, 2, 3, 2},
                    {Op::Take, {3, 4}, 4, 1, 2}}},
        CursorCase{"RewindOfAShortTakeIsAsShort",
                   {1, 2, 3, 4, 5},
                   2,
                   {{Op::Take, {1, 2}, 2, 3, 2}, {Op::Take, {3, 4}, 4, 1, 2}, {Op::Take, {5}, 5, 0, 1},
                    {Op::Rewind, {}, 4, 1, 1}, {Op::Take, {5}, 5, 0, 1}}},
        CursorCase{"RestartBeginsTheListAgain",
                   {10, 20, 30},
                   2,
                   {{Op::Take, {10, 20}, 2, 1, 2}, {Op::Take, {30}, 3, 0, 1}, {Op::Restart, {}, 0, 3, 1},
                    {Op::Take, {10, 20}, 2, 1, 2}}},
        CursorCase{"OneAtATime", {4, 5}, 1, {{Op::Take, {4}, 1, 1, 1}, {Op::Take, {5}, 2, 0, 1}}}),
    [](const testing::TestParamInfo<CursorCase>& info) { return info.param.name; });

TEST(CursorLoad, StartsAFreshRun) {
  ChannelCursor<QString> cursor;
  cursor.load({"001", "002", "003"}, 2);
  cursor.take();
  cursor.load({"009"}, 8);
  EXPECT_EQ(cursor.ChannelList, (std::vector<QString>{"", "009"}));
  EXPECT_EQ(cursor.ListPos, 0);
  EXPECT_EQ(cursor.ListRemain, 1);
  EXPECT_EQ(cursor.ListTotal, 1);
  EXPECT_EQ(cursor.take(), QStringList{"009"});
}
