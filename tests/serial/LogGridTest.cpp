#include "core/Bcc.h"
#include "kit/LogGrid.h"
#include "kit/Look.h"

#include <QApplication>
#include <QAction>
#include <QBuffer>
#include <QDateTime>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>
#include <ostream>

using namespace kestrel;

TEST(Bcc, WorkedExamples) {
  EXPECT_EQ(CalcBCC(QStringLiteral("001")), 0x32);
  EXPECT_EQ(CalcBCC(QStringLiteral("255")), 0x31);
  EXPECT_EQ(CalcBCC(QStringLiteral("000")), 0x33);
  EXPECT_EQ(CalcBCC(QStringLiteral("0001")), 0x02);
  EXPECT_EQ(CalcBCC(QByteArray("\xFF", 1)), 0xFC);
  EXPECT_EQ(CalcBCC(QByteArray()), 0x03);
  EXPECT_EQ(hexText(5), QStringLiteral("5"));
  EXPECT_EQ(hexText(0), QStringLiteral("0"));
  EXPECT_EQ(hexText(252), QStringLiteral("FC"));
  EXPECT_EQ(hexText(0x0A), QStringLiteral("A"));
}

struct FrameCase {
  QByteArray payload;
  QByteArray frame;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.payload.toHex().constData(); }

class StxFrame : public testing::TestWithParam<FrameCase> {};

TEST_P(StxFrame, IsStxPayloadEtxBcc) {
  const FrameCase& c = GetParam();
  EXPECT_EQ(stxFrame(c.payload), c.frame);
  const std::array<QByteArray, 4> parts = stxFrameParts(c.payload);
  EXPECT_EQ(parts[0] + parts[1] + parts[2] + parts[3], c.frame);
  EXPECT_EQ(parts[1], c.payload);
  EXPECT_EQ(parts[3].size(), 1);
}

// Frames the units' tests know by heart: a channel, the volume and stop
// commands, the 1000-channel example and a line-numbered payload.
INSTANTIATE_TEST_SUITE_P(
    KnownFrames, StxFrame,
    testing::Values(FrameCase{"001", QByteArray("\x02" "001" "\x03\x32", 6)},
                    FrameCase{"251", QByteArray("\x02" "251" "\x03\x35", 6)},
                    FrameCase{QByteArray(1, '\xFF'), QByteArray("\x02\xFF\x03\xFC", 4)},
                    FrameCase{QByteArray(1, '\xC8'), QByteArray("\x02\xC8\x03\xCB", 4)},
                    FrameCase{"001015145", QByteArray("\x02" "001015145" "\x03\x36", 12)},
                    FrameCase{"00011000", QByteArray("\x02" "00011000" "\x03\x03", 11)},
                    FrameCase{"#00100050006", QByteArray("\x02" "#00100050006" "\x03\x12", 15)},
                    FrameCase{"0102030405060708", QByteArray("\x02" "0102030405060708" "\x03\x0B", 19)},
                    FrameCase{{}, QByteArray("\x02\x03\x03", 3)}));

TEST(LogModel, GrowsFromTheEleventhLineAndKeepsTheNewest13InView) {
  LogModel log;
  EXPECT_EQ(log.Rows(), 13);
  EXPECT_EQ(log.LogRow(), 1);
  EXPECT_EQ(log.TextMatrix(0), QStringLiteral("<テスト状況"));
  for (int i = 1; i <= 10; ++i) log.AddLog(QStringLiteral("line %1").arg(i));
  EXPECT_EQ(log.Rows(), 13);
  EXPECT_EQ(log.TopRow(), 1);
  log.AddLog(QStringLiteral("line 11"));
  EXPECT_EQ(log.Rows(), 14);
  EXPECT_EQ(log.TopRow(), 1);
  log.AddLog(QStringLiteral("line 12"));
  EXPECT_EQ(log.Rows(), 15);
  EXPECT_EQ(log.TopRow(), 2);
  log.AddLog(QStringLiteral("line 13"));
  EXPECT_EQ(log.Rows(), 16);
  EXPECT_EQ(log.TopRow(), 3);
  EXPECT_EQ(log.TextMatrix(1), QStringLiteral("line 1"));
  EXPECT_EQ(log.TextMatrix(13), QStringLiteral("line 13"));
  EXPECT_EQ(log.LogRow(), 14);
}

TEST(LogModel, ClearStartsOver) {
  LogModel log;
  for (int i = 0; i < 30; ++i) log.AddLog(QStringLiteral("x"));
  log.Clear();
  EXPECT_EQ(log.Rows(), 13);
  EXPECT_EQ(log.LogRow(), 1);
  EXPECT_EQ(log.TopRow(), 1);
  EXPECT_TRUE(log.lines().isEmpty());
  log.AddLog(QStringLiteral("again"));
  EXPECT_EQ(log.TextMatrix(1), QStringLiteral("again"));
}

TEST(LogModel, FifteenRowViewAndOffsetRowVariants) {
  LogModel tall({.visibleRows = 15});
  for (int i = 0; i < 13; ++i) tall.AddLog(QStringLiteral("x"));
  EXPECT_EQ(tall.Rows(), 16);
  EXPECT_EQ(tall.TopRow(), 1);
  tall.AddLog(QStringLiteral("x"));
  EXPECT_EQ(tall.TopRow(), 2);

  // Lines go into row LogRow + 1, so the grid grows one line later.
  LogModel offset({.rowOffset = 1, .firstLogRow = 0});
  for (int i = 1; i <= 12; ++i) offset.AddLog(QStringLiteral("line %1").arg(i));
  EXPECT_EQ(offset.TextMatrix(1), QStringLiteral("line 1"));
  EXPECT_EQ(offset.TextMatrix(12), QStringLiteral("line 12"));
  EXPECT_EQ(offset.Rows(), 14);
  EXPECT_EQ(offset.TopRow(), 1);
}

TEST(LogModel, InsertedRowsKindColoursAndTheClearAfter32766Lines) {
  LogGridStyle style{.insertRows = true, .clearAfter = 32766};
  style.colours[std::size_t(LineKind::Sent)].background = QColor(Qt::white);
  style.colours[std::size_t(LineKind::Received)].background = QColor(0, 0xC0, 0xC0);
  LogModel log(style);
  log.AddLog(QStringLiteral("sent"), LineKind::Sent);
  log.AddLog(QStringLiteral("got"), LineKind::Received);
  EXPECT_EQ(log.TextMatrix(1), QStringLiteral("sent"));
  EXPECT_EQ(log.TextMatrix(2), QStringLiteral("got"));
  EXPECT_EQ(log.Rows(), 15);  // each line inserts a row
  EXPECT_EQ(log.CellBackColor(1), QColor(Qt::white));
  EXPECT_EQ(log.CellBackColor(2), QColor(0, 0xC0, 0xC0));
  EXPECT_EQ(log.data(log.index(1, 0), Qt::BackgroundRole).value<QColor>(), QColor(0, 0xC0, 0xC0));

  for (int i = 3; i <= 32766; ++i) log.AddLog(QStringLiteral("line %1").arg(i));
  EXPECT_EQ(log.LogRow(), 32767);
  EXPECT_EQ(log.TextMatrix(32766), QStringLiteral("line 32766"));
  log.AddLog(QStringLiteral("first again"), LineKind::Received);  // LogRow beyond 32766: cleared first
  EXPECT_EQ(log.lines(), QStringList{"first again"});
  EXPECT_EQ(log.LogRow(), 2);
  EXPECT_EQ(log.Rows(), 14);
}

TEST(LogModel, HeaderlessGridWithTextColours) {
  LogGridStyle style{.header = false, .widthTwips = 8500, .visibleRows = 17, .firstLogRow = 0};
  style.colours[std::size_t(LineKind::Info)].text = QColor(0, 0, 255);
  style.colours[std::size_t(LineKind::Error)].text = QColor(255, 0, 0);
  LogModel log(style);
  EXPECT_EQ(log.Rows(), 17);
  EXPECT_EQ(log.headerData(0, Qt::Horizontal, Qt::DisplayRole), QVariant());
  log.AddLog(QStringLiteral("plain"), LineKind::Sent);
  log.AddLog(QStringLiteral("info"), LineKind::Info);
  log.AddLog(QStringLiteral("error"), LineKind::Error);
  EXPECT_EQ(log.TextMatrix(0), QStringLiteral("plain"));
  EXPECT_EQ(log.CellForeColor(0), QColor());
  EXPECT_EQ(log.CellForeColor(1), QColor(0, 0, 255));
  EXPECT_EQ(log.data(log.index(2, 0), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
  for (int i = 3; i < 15; ++i) log.AddLog(QStringLiteral("x"));
  EXPECT_EQ(log.Rows(), 17);  // the 16th line reaches the last row
  log.AddLog(QStringLiteral("x"));
  EXPECT_EQ(log.Rows(), 18);
  EXPECT_EQ(log.TopRow(), 1);  // more than 17 rows: the top row is rows - 17
  log.Clear();
  EXPECT_EQ(log.TopRow(), 0);
  EXPECT_EQ(log.LogRow(), 0);
}

TEST(LogGrid, HeaderWidthAndScrolling) {
  LogModel log;
  LogGrid grid(&log);
  grid.resize(grid.minimumSize());  // exactly 13 rows high
  grid.show();
  EXPECT_EQ(grid.objectName(), QStringLiteral("FG1"));
  EXPECT_EQ(log.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("テスト状況"));
  EXPECT_EQ(grid.horizontalHeader()->defaultAlignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
  EXPECT_EQ(grid.columnWidth(0), twipsToPixels(8200, &grid));
  for (int i = 0; i < 40; ++i) log.AddLog(QStringLiteral("line %1").arg(i));
  EXPECT_EQ(log.TopRow(), log.Rows() - 13);
  QApplication::processEvents();
  EXPECT_EQ(grid.visibleTopRow(), log.TopRow());
  log.Clear();
  QApplication::processEvents();
  EXPECT_EQ(grid.visibleTopRow(), 1);
}

TEST(LogGrid, HundredThousandLinesKeepTheirOrder) {
  LogModel log;
  LogGrid grid(&log);
  grid.show();
  for (int i = 0; i < 100000; ++i) log.AddLog(QString::number(i));
  grid.resize(grid.minimumSize());
  QApplication::processEvents();
  EXPECT_EQ(log.Rows(), 100003);
  EXPECT_EQ(log.TextMatrix(100000), QStringLiteral("99999"));
  EXPECT_EQ(grid.visibleTopRow(), 100003 - 13);
}

namespace {

// The saved form of what `log` holds since its last clear, stamps checked and cut off.
QStringList savedLines(const LogModel& log) {
  QBuffer out;
  out.open(QIODevice::WriteOnly);
  EXPECT_TRUE(log.writeSinceClear(out));
  QStringList lines = QString::fromLatin1(out.data()).split(QStringLiteral("\r\n"));
  EXPECT_EQ(lines.takeLast(), QString());
  const QRegularExpression stamp(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
  for (QString& line : lines) {
    EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
    line = line.mid(24);
  }
  return lines;
}

QStringList numbered(int from, int to) {
  QStringList out;
  for (int i = from; i <= to; ++i) out.append(QStringLiteral("line %1").arg(i));
  return out;
}

}  // namespace

TEST(LogModel, KeepsTheNewestLinesAndCountsRowsAsIfNoneLeft) {
  QTemporaryDir dir;
  qputenv("KESTREL_LOG_DIR", dir.path().toLocal8Bit());
  LogModel log(LogGridStyle{.maxLines = 16});
  log.setJournal(LogJournal::open(QStringLiteral("Bound")));
  qunsetenv("KESTREL_LOG_DIR");
  ASSERT_NE(log.journal(), nullptr);
  EXPECT_TRUE(log.journal()->path().startsWith(dir.path() + QStringLiteral("/Bound-")));
  LogGrid grid(&log);
  grid.show();
  for (int i = 1; i <= 100; ++i) log.AddLog(QStringLiteral("line %1").arg(i));
  QApplication::processEvents();

  EXPECT_LE(log.rowCount(), 16 + 16 / 8);
  EXPECT_EQ(log.Rows(), 103);  // as an unbounded grid counts them
  EXPECT_EQ(log.LogRow(), 101);
  EXPECT_EQ(log.TopRow(), 103 - 13);
  EXPECT_EQ(grid.visibleTopRow(), log.TopRow());
  EXPECT_EQ(log.TextMatrix(1), QString());  // left the grid
  EXPECT_EQ(log.TextMatrix(100), QStringLiteral("line 100"));
  EXPECT_EQ(log.lines(), numbered(85, 100));  // and the two empty rows below them
  EXPECT_EQ(savedLines(log), numbered(1, 100));  // the journal has them all

  log.Clear();
  EXPECT_EQ(log.linesSinceClear(), 0);
  log.AddLog(QStringLiteral("after"));
  EXPECT_EQ(savedLines(log), QStringList{"after"});
  EXPECT_EQ(log.TextMatrix(1), QStringLiteral("after"));
}

TEST(LogModel, TheGridsOwnClearKeepsTheSavedLogAndNoJournalFallsBackToTheGrid) {
  LogModel log(LogGridStyle{.insertRows = true, .clearAfter = 40, .maxLines = 16});
  for (int i = 1; i <= 42; ++i) log.AddLog(QStringLiteral("line %1").arg(i));
  EXPECT_EQ(log.lines(), numbered(41, 42));  // cleared at LogRow 41, though only 16 were kept
  EXPECT_EQ(log.linesSinceClear(), 42);
  EXPECT_EQ(savedLines(log), numbered(41, 42));
}

TEST(LogJournal, CleanUpRemovesOnlyOldJournals) {
  QTemporaryDir dir;
  const QDateTime old = QDateTime::currentDateTime().addDays(-(LogJournal::kKeepDays + 5));
  struct File {
    const char* name;
    bool old;
    bool stays;
  };
  const File files[] = {
      {"運転記録.log", true, true},  // the operator's own
      {"run-2024-01-02.log", true, true},
      {"FrmRS232CMode2-20240102-030405.log.log", true, true},
      {"FrmRS232CMode2-20240102-030405.log", true, false},
      {"FrmPLX6-20240102-030405-7.log", true, false},
      {"FrmBrisk-20240102-030405.log", false, true},
  };
  for (const File& f : files) {
    QFile file(dir.filePath(QString::fromUtf8(f.name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write("line\r\n"), 6);
    ASSERT_TRUE(file.flush());  // before the time is set
    if (f.old) {
      ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
  }
  qputenv("KESTREL_LOG_DIR", dir.path().toLocal8Bit());
  const std::unique_ptr<LogJournal> journal = LogJournal::open(QStringLiteral("FrmRS232CMode2"));
  qunsetenv("KESTREL_LOG_DIR");
  ASSERT_NE(journal, nullptr);
  for (const File& f : files) EXPECT_EQ(QFile::exists(dir.filePath(QString::fromUtf8(f.name))), f.stays) << f.name;
  EXPECT_TRUE(LogJournal::isJournalName(QFileInfo(journal->path()).fileName()));
}

// What the operator asks of the grid on top: none of it renumbers the rows.
class LogGridViews : public ::testing::Test {
 protected:
  LogGridViews() {
    log.AddLog(QStringLiteral("[送信]：ENQ(05h)"), LineKind::Sent);
    log.AddLog(QStringLiteral("[受信]：ACK(06h)"), LineKind::Received);
    log.AddLog(QStringLiteral("[送信]：STX(02h)"), LineKind::Sent);
    log.AddLog(QStringLiteral("[受信]：NAK(15h)"), LineKind::Received);
    log.AddLog(QStringLiteral("断線"), LineKind::Fault);
  }
  void expectDocumentedRows() {
    EXPECT_EQ(log.Rows(), 13);
    EXPECT_EQ(log.LogRow(), 6);
    EXPECT_EQ(log.TextMatrix(2), QStringLiteral("[受信]：ACK(06h)"));
  }
  LogModel log;
  LogGrid grid{&log};
};

TEST_F(LogGridViews, FilterByKindHidesOnlyThatKindAndFollowsNewLines) {
  grid.kindAction(LineKind::Received)->trigger();  // the context menu's toggle
  EXPECT_FALSE(grid.kindShown(LineKind::Received));
  const bool hidden[] = {false, true, false, true, false, false, false};
  for (int row = 0; row < 7; ++row) EXPECT_EQ(grid.isRowHidden(row), hidden[row]) << row;
  log.AddLog(QStringLiteral("[受信]：ACK(06h)"), LineKind::Received);
  log.AddLog(QStringLiteral("[送信]：ETX(03h)"), LineKind::Sent);
  EXPECT_TRUE(grid.isRowHidden(5));
  EXPECT_FALSE(grid.isRowHidden(6));
  log.Clear();  // a cleared grid's empty rows stay shown
  for (int row = 0; row < log.rowCount(); ++row) EXPECT_FALSE(grid.isRowHidden(row)) << row;
  log.AddLog(QStringLiteral("[受信]：ACK(06h)"), LineKind::Received);
  EXPECT_TRUE(grid.isRowHidden(0));
  grid.setKindShown(LineKind::Received, true);
  EXPECT_TRUE(grid.kindAction(LineKind::Received)->isChecked());
  EXPECT_FALSE(grid.isRowHidden(0));
  EXPECT_EQ(log.Rows(), 13);
}

TEST_F(LogGridViews, FindGoesForwardAndBackRoundTheShownLines) {
  EXPECT_EQ(grid.findAction()->shortcut(), QKeySequence(QKeySequence::Find));
  grid.showFindBar();
  EXPECT_FALSE(grid.findBar()->isHidden());
  auto found = [&] { return grid.currentIndex().row(); };
  ASSERT_TRUE(grid.find(QStringLiteral("[受信]")));
  EXPECT_EQ(found(), 1);
  ASSERT_TRUE(grid.find(QStringLiteral("[受信]")));
  EXPECT_EQ(found(), 3);
  ASSERT_TRUE(grid.find(QStringLiteral("[受信]")));  // round to the first again
  EXPECT_EQ(found(), 1);
  ASSERT_TRUE(grid.find(QStringLiteral("stx"), true));  // case does not matter
  EXPECT_EQ(found(), 2);
  EXPECT_EQ(grid.selectionModel()->selectedRows().size(), 1);

  grid.setKindShown(LineKind::Sent, false);
  EXPECT_FALSE(grid.find(QStringLiteral("ENQ")));
  EXPECT_EQ(grid.findBar()->LblFound->text(), QStringLiteral("見つかりません"));
  grid.findBar()->TxtFind->setText(QStringLiteral("断線"));
  grid.findBar()->CmdNext->click();
  EXPECT_EQ(found(), 4);
  EXPECT_EQ(grid.findBar()->LblFound->text(), QString());
  expectDocumentedRows();
}

TEST_F(LogGridViews, TimeStampsInAColumnOfTheirOwnOnRequest) {
  EXPECT_FALSE(grid.showStamps());
  grid.stampAction()->trigger();
  EXPECT_TRUE(grid.showStamps());
  const QString stamp = log.headerData(0, Qt::Vertical, Qt::DisplayRole).toString();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")).match(stamp).hasMatch())
      << stamp.toStdString();
  const qint64 ms = log.index(0, 0).data(LogModel::StampRole).toLongLong();
  EXPECT_EQ(stamp, QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz")));
  EXPECT_EQ(log.headerData(5, Qt::Vertical, Qt::DisplayRole).toString(), QString());  // an empty row
  EXPECT_EQ(log.index(0, 0).data(Qt::DisplayRole).toString(), QStringLiteral("[送信]：ENQ(05h)"));
  EXPECT_EQ(log.columnCount(), 1);
  grid.setShowStamps(false);
  EXPECT_FALSE(grid.stampAction()->isChecked());
  expectDocumentedRows();
}

TEST_F(LogGridViews, HexViewShowsTheLinesSavedBytes) {
  EXPECT_EQ(lineHexDump(QByteArray("\x5B\x91\x97\x90\x4D\x5D", 6)), QStringLiteral("0000  5B 91 97 90 4D 5D"));
  EXPECT_EQ(lineHexDump(QByteArray(17, 'A')),
            QStringLiteral("0000  41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41\n0010  41"));
  grid.setCurrentIndex(log.index(1, 0));
  grid.hexAction()->trigger();
  auto* dialog = grid.findChild<QDialog*>(QStringLiteral("LogHexView"));
  ASSERT_NE(dialog, nullptr);
  auto* dump = dialog->findChild<QPlainTextEdit*>(QStringLiteral("TxtHex"));
  ASSERT_NE(dump, nullptr);
  // "[受信]：ACK(06h)" in CP932.
  EXPECT_EQ(dump->toPlainText(), QStringLiteral("0000  5B 8E F3 90 4D 5D 81 46 41 43 4B 28 30 36 68 29"));
  dialog->close();
}

TEST(LogGridColours, KindsGetColoursOnlyWhereTheWindowSetsNone) {
  LogModel plain;
  LogGrid plainGrid(&plain);
  plain.AddLog(QStringLiteral("s"), LineKind::Sent);
  plain.AddLog(QStringLiteral("f"), LineKind::Fault);
  EXPECT_EQ(plainGrid.textColour(0), defaultLineColour(LineKind::Sent));
  EXPECT_EQ(plainGrid.textColour(1), defaultLineColour(LineKind::Fault));
  EXPECT_NE(defaultLineColour(LineKind::Sent), defaultLineColour(LineKind::Received));
  EXPECT_FALSE(plainGrid.textColour(5).isValid());  // an empty row
  EXPECT_EQ(plain.CellForeColor(1), QColor());      // the model's own colours are the window's

  LogGridStyle style;
  style.colours[std::size_t(LineKind::Info)].text = QColor(0, 0, 255);
  LogModel styled(style);
  LogGrid styledGrid(&styled);
  styled.AddLog(QStringLiteral("i"), LineKind::Info);
  styled.AddLog(QStringLiteral("s"), LineKind::Sent);
  EXPECT_EQ(styledGrid.textColour(0), QColor(0, 0, 255));
  EXPECT_FALSE(styledGrid.textColour(1).isValid());
}
