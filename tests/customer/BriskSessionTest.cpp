#include "sessions/BriskSession.h"
#include "sessions/DataFile.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class Brisk : public ::testing::Test {
 protected:
  void fill(int row, const QString& event, const QString& unit) {
    session.setCell(row, BriskSession::EventColumn, event);
    session.setCell(row, BriskSession::UnitColumn, unit);
  }
  Message box(const char* text, MsgIcon icon = MsgIcon::Exclamation, MsgButtons buttons = MsgButtons::Ok) {
    return {kTitle3J, QString::fromUtf8(text), icon, buttons};
  }
  QString dataFile() const { return dir.filePath(QStringLiteral("data.dat")); }

  FakeLink link;
  VirtualPause pause;
  RecordingPrompt prompt;
  QTemporaryDir dir;
  WindowPrompter boxes;
  BriskSession session{link, pause, boxes};
};

}  // namespace

TEST_F(Brisk, FramesAsTheUnitTakesThem) {
  EXPECT_EQ(BriskSession::frame(1, "005"), QByteArray("\x40\x30\x30\x30\x35\x0D"));
  EXPECT_EQ(BriskSession::frame(16, "123"), QByteArray("\x40\x3F\x31\x32\x33\x0D"));
  EXPECT_EQ(BriskSession::frame(3, "0042"), QByteArray("\x40\x32\x30\x30\x34\x32\x0D"));
  fill(1, "11", "5");
  session.PauseText = "120";
  session.SendOne();
  EXPECT_EQ(link.take(), QByteArray("@:005\r"));
  EXPECT_EQ(pause.sleeps, std::vector<int>{120});
  session.UnitWidth = 4;
  fill(1, "3", " 42");
  session.SendOne();
  EXPECT_EQ(link.take(), QByteArray("@20042\r"));
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(Brisk, PauseAndCellChecksStopTheSend) {
  fill(1, "1", "5");
  session.PauseText = "";
  session.SendOne();
  session.SendAll();
  EXPECT_TRUE(prompt.messages.empty());  // an empty pause does nothing at all
  for (const char* text : {"x", "1001", "-1"}) {
    session.PauseText = QString::fromLatin1(text);
    session.SendOne();
  }
  session.PauseText = "50";
  fill(2, "17", "5");
  session.CurrentRow = 2;
  session.SendOne();
  fill(2, "16", "0");  // zero is refused, whatever the message says
  session.SendOne();
  EXPECT_EQ(prompt.messages, (std::vector<Message>{box("タイミング時間の値が不正です。"),
                                                   box("タイミング時間の値は0から1000の値で入力してください  "),
                                                   box("タイミング時間の値は0から1000の値で入力してください  "),
                                                   box("イベント情報は1から16の数値を入力してください  "),
                                                   box("台番号は0から999の数値を入力してください  ")}));
  EXPECT_EQ(session.CurrentColumn, BriskSession::UnitColumn);
  EXPECT_TRUE(session.EditCell);
  EXPECT_TRUE(link.take().isEmpty());
}

TEST_F(Brisk, FourDigitsInWidthThreeStopBothSendsAtBuilding) {
  fill(1, "1", "0999");
  session.SendOne();
  session.SendAll();
  EXPECT_EQ(prompt.texts(), std::vector<QString>(2, QStringLiteral("台番号は0から999の数値を入力してください")));
  EXPECT_TRUE(link.take().isEmpty());
}

TEST_F(Brisk, SendAllClosesUpAndReportsTheCount) {
  fill(1, "1", "5");
  fill(3, "2", "6");
  session.SendAll();
  EXPECT_EQ(link.writes, (std::vector<QByteArray>{"@0005\r", "@1006\r"}));
  EXPECT_EQ(pause.sleeps, (std::vector<int>{50, 50}));
  EXPECT_EQ(prompt.messages, (std::vector<Message>{box("空欄を詰めて送信します 　　", MsgIcon::Information),
                                                   box("2フレーム分送信完了しました　 ", MsgIcon::Information)}));
  EXPECT_EQ(session.Event[2], QStringLiteral("2"));
  EXPECT_TRUE(session.Event[3].isEmpty());
  EXPECT_EQ(session.CurrentRow, 3);

  prompt.messages.clear();
  fill(5, "4", "");
  session.SendAll();
  BriskSession empty(link, pause, boxes);
  empty.SendAll();
  EXPECT_EQ(prompt.texts(), (std::vector<QString>{"空欄が含まれているフレームがあります。送信できませんでした　",
                                                  "送信データがありません　　"}));
  EXPECT_EQ(session.CurrentRow, 5);
  EXPECT_EQ(session.CurrentColumn, BriskSession::UnitColumn);
}

TEST_F(Brisk, SaveAndLoadTheDataFile) {
  session.DefaultTable(dataFile());
  EXPECT_EQ(session.Unit[16], QStringLiteral("123"));
  EXPECT_TRUE(session.Unit[17].isEmpty());
  session.Save(dataFile());  // nothing edited: nothing to save
  EXPECT_FALSE(QFile::exists(dataFile()));
  fill(2, "7", "1");
  session.Save(dataFile());
  QFile file(dataFile());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().startsWith("1,123\r\n7,1\r\n3,123\r\n"));
  file.close();
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("正常に保存されました    "));

  BriskSession loaded(link, pause, boxes);
  loaded.Load(dataFile());
  EXPECT_EQ(loaded.Event, session.Event);
  EXPECT_EQ(loaded.Unit, session.Unit);
  EXPECT_FALSE(loaded.Modified);

  // Sound lines load; the rest are named.
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("4,12\r\nx,1\r\n5\r\n6,y\r\n");
  file.close();
  loaded.setCell(1, 1, "9");
  prompt.answers = {MsgAnswer::Yes};
  loaded.Load(dataFile());
  EXPECT_EQ(loaded.Event[1], QStringLiteral("4"));
  EXPECT_EQ(loaded.Event[2], QStringLiteral("5"));
  EXPECT_TRUE(loaded.Unit[2].isEmpty());
  EXPECT_TRUE(loaded.Event[3].isEmpty());
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("読み込めなかった行があります（2,4行目）"));
  loaded.Load(dir.filePath(QStringLiteral("none.dat")));
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("読込むファイルが見つかりませんでした  "));
}

TEST_F(Brisk, AFileOfManyBadLinesNamesTheFirstTenAndCountsTheRest) {
  QByteArray bytes = "3,12\r\n";
  constexpr int kBad = 250000;  // 1.25 MB
  for (int i = 0; i < kBad; ++i) bytes += "xxx\r\n";
  bytes += "4\r\n";
  QFile file(dataFile());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
  file.close();
  session.Load(dataFile());
  EXPECT_EQ(session.Event[1], QStringLiteral("3"));
  EXPECT_EQ(session.Event[2], QStringLiteral("4"));
  EXPECT_TRUE(session.Event[3].isEmpty());
  EXPECT_EQ(
      prompt.texts(),
      std::vector<QString>{QStringLiteral("読み込めなかった行があります（2,3,4,5,6,7,8,9,10,11行目ほか249990行）")});

  const DataFileContents contents = parseDataFile(bytes, BriskSession::kRows);
  EXPECT_EQ(contents.refusedCount, kBad);
  EXPECT_EQ(contents.refused, (QList<qint64>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(contents.frames.size(), 2);
}

namespace {

struct DataFileCase {
  const char* name;
  QByteArray bytes;
  QList<qint64> events;  // of the frames read
  QList<qint64> refused;
};
void PrintTo(const DataFileCase& c, std::ostream* os) { *os << c.name; }

class DataFileLines : public ::testing::TestWithParam<DataFileCase> {};

// A device that fails after its first bytes.
class FailingDevice : public QIODevice {
 protected:
  qint64 readData(char* data, qint64) override {
    if (given_) return -1;
    given_ = true;
    data[0] = '1';
    return 1;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  bool given_ = false;
};

}  // namespace

TEST_P(DataFileLines, ReadPieceByPiece) {
  const DataFileContents contents = parseDataFile(GetParam().bytes, BriskSession::kRows);
  QList<qint64> events;
  for (const DataFrame& f : contents.frames) events.append(f.event);
  EXPECT_EQ(events, GetParam().events);
  EXPECT_EQ(contents.refused, GetParam().refused);
  EXPECT_EQ(contents.refusedCount, GetParam().refused.size());
  EXPECT_FALSE(contents.readFailed);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DataFileLines,
    ::testing::Values(
        // Lines across the reader's 64 KiB pieces.
        DataFileCase{"AcrossPieces",
                     QByteArray(65534, '\n') + "12,34\r\n" + QByteArray(65530, ' ') + "x\r\n5",
                     {12, 5},
                     {65536}},
        // Longer than any frame: refused without being kept, unless blank.
        DataFileCase{
            "Overlong", "1,5\n" + QByteArray(200000, '9') + "\n" + QByteArray(200000, ' ') + "\r\n2,6", {1, 2}, {2}},
        DataFileCase{"TwentyOneFrames", QByteArray("1\n").repeated(21) + "x", QList<qint64>(20, 1), {21, 22}}),
    [](const ::testing::TestParamInfo<DataFileCase>& info) { return std::string(info.param.name); });

TEST(DataFile, AReadErrorIsReported) {
  FailingDevice device;
  ASSERT_TRUE(device.open(QIODevice::ReadOnly));
  EXPECT_TRUE(parseDataFile(device, BriskSession::kRows).readFailed);
}

TEST_F(Brisk, SaveAsksBeforeClosingUpAndRefusesHalfRows) {
  fill(1, "1", "5");
  fill(3, "2", "6");
  prompt.answers = {MsgAnswer::No};
  session.Save(dataFile());
  EXPECT_EQ(prompt.texts(), (std::vector<QString>{"空欄を詰めて保存しますか？　　", "保存処理を中止します　　　"}));
  EXPECT_FALSE(QFile::exists(dataFile()));
  fill(4, "", "9");
  session.Save(dataFile());
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("空欄が含まれているフレームがあります。保存できませんでした　"));
}

TEST_F(Brisk, DeleteRowAndClearAll) {
  session.DefaultTable(dataFile());
  for (int r = 17; r <= 20; ++r) fill(r, QString::number(r - 16), "9");
  session.CurrentRow = 5;
  prompt.answers = {MsgAnswer::Yes};
  session.DeleteRow();
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("5行目削除します　 "));
  EXPECT_EQ(session.Event[5], QStringLiteral("6"));
  EXPECT_EQ(session.Event[19], QStringLiteral("4"));
  EXPECT_TRUE(session.Event[20].isEmpty());
  prompt.answers = {MsgAnswer::Yes};
  session.ClearAll();
  session.ClearAll();
  const std::vector<QString> texts = prompt.texts();
  EXPECT_EQ(std::vector<QString>(texts.begin() + 1, texts.end()),
            (std::vector<QString>{"全データを削除しますか？     ", "削除するデータがありません　　"}));
  EXPECT_EQ(session.CurrentRow, 1);
}
