// The sample files in examples/, through the readers the windows, the
// runner and the simulated unit use.
#include "sessions/BriskSession.h"
#include "sessions/DataFile.h"
#include "sessions/Schedule.h"
#include "unit/Schedule.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace kestrel;

namespace {

QString example(const char* path) { return QStringLiteral(KESTREL_EXAMPLES_DIR "/") + QString::fromUtf8(path); }

}  // namespace

TEST(Examples, ScheduleFilesReadAsTheWindowsAndTheUnitReadThem) {
  ScheduleTable route = emptySchedule(255);
  ASSERT_TRUE(readScheduleFile(example("card/route.wmj"), route));
  EXPECT_EQ(route[3].Field[1], QStringLiteral("中央公園"));
  EXPECT_EQ(route[3].Field[5], QStringLiteral("次は中央公園、お降りの方はボタンでお知らせください"));
  EXPECT_EQ(route[12].Field[6], QStringLiteral("終点"));
  EXPECT_TRUE(route[4].Field[1].isEmpty());
  EXPECT_TRUE(isScheduleFile(example("card/route.wmj")));

  // The long route is for the 1000-channel window only.
  ScheduleTable loop = emptySchedule(1000);
  ASSERT_TRUE(readScheduleFile(example("card-1000/loop.wmj"), loop));
  EXPECT_EQ(loop[600].Field[2], QStringLiteral("07:40"));
  ScheduleTable narrow = emptySchedule(255);
  EXPECT_FALSE(readScheduleFile(example("card-1000/loop.wmj"), narrow));

  for (const char* file : {"card/route.wmj", "card-1000/loop.wmj"}) {
    const sim::Schedule held = sim::readSchedule(example(file).toStdString());
    EXPECT_EQ(held.size(), std::size_t(4)) << file;
  }
}

TEST(Examples, DataFileHoldsFourFramesTheEditorTakes) {
  QFile file(example("frames/data.dat"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const DataFileContents contents = parseDataFile(file, BriskSession::kRows);
  EXPECT_EQ(contents.refusedCount, 0);
  EXPECT_FALSE(contents.readFailed);
  ASSERT_EQ(contents.frames.size(), 4);
  const qint64 expected[4][2] = {{1, 123}, {2, 123}, {3, 45}, {16, 999}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(contents.frames[i].event, expected[i][0]) << i;
    EXPECT_EQ(contents.frames[i].unit, expected[i][1]) << i;
  }
}
