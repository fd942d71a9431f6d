#include "sessions/BriskSession.h"

#include "sessions/DataFile.h"
#include "core/ChannelEntry.h"
#include "core/LinkPort.h"
#include "core/AtomicSave.h"
#include "core/Prompter.h"
#include "core/Pause.h"
#include "core/SessionEvents.h"

#include <QFile>
#include <QStringList>
#include <cmath>

namespace kestrel {

namespace {

const QString kPauseInvalid = QStringLiteral("タイミング時間の値が不正です。");
const QString kPauseRange = QStringLiteral("タイミング時間の値は0から1000の値で入力してください  ");
const QString kPauseDefaulted = QStringLiteral("入力値異常。デフォルトとして50を代入します  ");
const QString kEventRange = QStringLiteral("イベント情報は1から16の数値を入力してください  ");
const QString kEventRangeHalfWidth = QStringLiteral("ｲﾍﾞﾝﾄ情報は1から16の数値を入力してください  ");
const QString kBlankRow = QStringLiteral("空欄が含まれている為送信できません  ");
const QString kBlankFrameSend = QStringLiteral("空欄が含まれているフレームがあります。送信できませんでした　");
const QString kNothingToSend = QStringLiteral("送信データがありません　　");
const QString kClosingUpSend = QStringLiteral("空欄を詰めて送信します 　　");
const QString kSent = QStringLiteral("フレーム分送信完了しました　 ");
const QString kDiscardEdits = QStringLiteral("編集中のデータは破棄されますがよろしいですか？　  ");
const QString kNoFile = QStringLiteral("読込むファイルが見つかりませんでした  ");
const QString kBlankFrameSave = QStringLiteral("空欄が含まれているフレームがあります。保存できませんでした　");
const QString kClosingUpSave = QStringLiteral("空欄を詰めて保存しますか？　　");
const QString kSaveCancelled = QStringLiteral("保存処理を中止します　　　");
const QString kNothingToSave = QStringLiteral("保存するデータがありません　　");
const QString kSaved = QStringLiteral("正常に保存されました    ");
const QString kSaveFailed = QStringLiteral("データ不正の為に保存できません    ");
const QString kSaveShown = QStringLiteral("現在表示しているデータは保存しますか？  ");
const QString kDeleteRow = QStringLiteral("行目削除します　 ");
const QString kDeleteAll = QStringLiteral("全データを削除しますか？     ");
const QString kNothingToDelete = QStringLiteral("削除するデータがありません　　");
const QString kNotSent = QStringLiteral("通信ポートに送信できませんでした。");

QString unitRange(int width, bool trailing = true) {
  return QStringLiteral("台番号は0から%1の数値を入力してください").arg(width == 3 ? 999 : 9999) +
         (trailing ? QStringLiteral("  ") : QString());
}

bool blank(const QString& s) { return s.trimmed().isEmpty(); }

std::optional<qint64> numberIn(const QString& text, qint64 low, qint64 high) {
  const std::optional<double> value = integerValue(text);
  if (!value || *value < low || *value > high) return std::nullopt;
  return qint64(*value);
}

}  // namespace

BriskSession::BriskSession(LinkPort& link, Pause& pause, Prompter& prompter)
    : link_(link), pause_(pause), prompter_(prompter) {}

QByteArray BriskSession::frame(int event, const QString& unitDigits) {
  return '@' + QByteArray(1, char(0x30 + event - 1)) + unitDigits.toLatin1() + '\r';
}

void BriskSession::select(int row, int column, bool edit) {
  CurrentRow = row;
  CurrentColumn = column;
  EditCell = edit;
}

void BriskSession::setCell(int row, int column, const QString& text) {
  if (row < 1 || row > kRows) return;
  (column == EventColumn ? Event : Unit)[std::size_t(row)] = text;
  Modified = true;
}

bool BriskSession::hasData() const {
  for (int r = 1; r <= kRows; ++r)
    if (!blank(Event[std::size_t(r)]) || !blank(Unit[std::size_t(r)])) return true;
  return false;
}

std::optional<int> BriskSession::validatePause() {
  if (blank(PauseText)) return std::nullopt;
  if (!isNumeric(PauseText)) {
    prompter_.ask(kPauseInvalid, MsgIcon::Exclamation);
    return std::nullopt;
  }
  const double value = *integerValue(PauseText);
  if (!std::isfinite(value)) {
    prompter_.ask(kPauseDefaulted, MsgIcon::Exclamation);
    PauseText = QStringLiteral("50");
    return std::nullopt;
  }
  if (value < 0 || value > 1000) {
    prompter_.ask(kPauseRange, MsgIcon::Exclamation);
    return std::nullopt;
  }
  return int(value);
}

bool BriskSession::validateCell(int row, int column) {
  const auto fail = [&](const QString& message, int at) {
    prompter_.ask(message, MsgIcon::Exclamation);
    select(row, at, true);
    return false;
  };
  if (column == EventColumn && !numberIn(Event[std::size_t(row)], 1, 16)) return fail(kEventRange, EventColumn);
  if (!numberIn(Unit[std::size_t(row)], 1, UnitWidth == 3 ? 999 : 9999)) return fail(unitRange(UnitWidth), UnitColumn);
  return true;
}

std::optional<QByteArray> BriskSession::buildFrame(int row) {
  const std::optional<qint64> event = numberIn(Event[std::size_t(row)], 1, 16);
  if (!event) {
    prompter_.ask(kEventRangeHalfWidth, MsgIcon::Exclamation);
    select(row, EventColumn, true);
    return std::nullopt;
  }
  QString unit = Unit[std::size_t(row)];
  if (unit.startsWith(u' ')) unit.remove(0, 1);
  if (UnitWidth == 3 && unit.size() >= 4) {
    prompter_.ask(unitRange(3, false), MsgIcon::Exclamation);
    select(row, UnitColumn, true);
    return std::nullopt;
  }
  // Digits as typed; anything else that passed as a number goes as its value.
  const bool digits = !unit.isEmpty() && std::all_of(unit.begin(), unit.end(), [](QChar c) { return c.isDigit(); });
  const QString text = digits ? unit.rightJustified(UnitWidth, u'0') : zeroPadded(*integerValue(unit), UnitWidth);
  return frame(int(*event), text);
}

void BriskSession::SendOne() {
  const std::optional<int> pause = validatePause();
  if (!pause) return;
  const int row = CurrentRow;
  if (blank(Event[std::size_t(row)]) || blank(Unit[std::size_t(row)])) {
    prompter_.ask(kBlankRow, MsgIcon::Exclamation);
    select(row, CurrentColumn);
    return;
  }
  if (!validateCell(row, CurrentColumn)) return;
  const std::optional<QByteArray> f = buildFrame(row);
  if (!f) return;
  if (!sendFrame(*f)) {
    prompter_.ask(kNotSent, MsgIcon::Exclamation);
    return;
  }
  pause_.sleep(*pause);
  select(row, EventColumn, true);
}

bool BriskSession::collect(std::array<QString, kRows + 1>& events, std::array<QString, kRows + 1>& units, int& count) {
  count = 0;
  for (int r = 1; r <= kRows; ++r) {
    const bool e = !blank(Event[std::size_t(r)]), u = !blank(Unit[std::size_t(r)]);
    if (e != u) {
      select(r, e ? UnitColumn : EventColumn, true);
      return false;
    }
    if (e) {
      ++count;
      events[std::size_t(count)] = Event[std::size_t(r)];
      units[std::size_t(count)] = Unit[std::size_t(r)];
    }
  }
  return true;
}

void BriskSession::closeUp(const std::array<QString, kRows + 1>& events, const std::array<QString, kRows + 1>& units,
                           int count) {
  for (int r = 1; r <= kRows; ++r) {
    Event[std::size_t(r)] = r <= count ? events[std::size_t(r)] : QString();
    Unit[std::size_t(r)] = r <= count ? units[std::size_t(r)] : QString();
  }
}

void BriskSession::SendAll() {
  const std::optional<int> pause = validatePause();
  if (!pause) return;
  std::array<QString, kRows + 1> events, units;
  int count = 0;
  if (!collect(events, units, count)) {
    prompter_.ask(kBlankFrameSend, MsgIcon::Exclamation);
    return;
  }
  if (count == 0) {
    prompter_.ask(kNothingToSend, MsgIcon::Exclamation);
    select(1, EventColumn);
    return;
  }
  for (int r = 1; r <= count; ++r) {
    if (blank(Event[std::size_t(r)])) {
      prompter_.ask(kClosingUpSend, MsgIcon::Information);
      closeUp(events, units, count);
      break;
    }
  }
  std::vector<QByteArray> frames;
  for (int r = 1; r <= count; ++r) {
    if (!validateCell(r, EventColumn)) return;
    const std::optional<QByteArray> f = buildFrame(r);
    if (!f) return;
    frames.push_back(*f);
  }
  for (const QByteArray& f : frames) {
    if (!sendFrame(f)) {
      prompter_.ask(kNotSent, MsgIcon::Exclamation);
      return;
    }
    pause_.sleep(*pause);
  }
  prompter_.ask(QString::number(count) + kSent, MsgIcon::Information);
  select(qMin(count + 1, kRows), EventColumn);
}

void BriskSession::Load(const QString& dataFile) {
  if (Modified && hasData() &&
      prompter_.ask(kDiscardEdits, MsgIcon::Exclamation, kTitle3J, MsgButtons::YesNo) != MsgAnswer::Yes)
    return;
  QFile file(dataFile);
  if (!file.open(QIODevice::ReadOnly)) {
    prompter_.ask(kNoFile, MsgIcon::Exclamation);
    return;
  }
  // A line that does not read as numbers is skipped and named (or counted) afterwards;
  // the rest of the file still loads.
  const DataFileContents contents = parseDataFile(file, kRows);
  if (contents.readFailed) {
    prompter_.ask(kNoFile, MsgIcon::Exclamation);
    return;
  }
  std::array<QString, kRows + 1> events, units;
  int row = 0;
  for (const DataFrame& f : contents.frames) {
    ++row;
    events[std::size_t(row)] = QString::number(f.event);
    units[std::size_t(row)] = f.unit ? QString::number(*f.unit) : QString();
  }
  closeUp(events, units, row);
  Modified = false;
  if (contents.refusedCount > 0) {
    // The first few by number, the rest as a count: a box stays readable.
    QStringList lines;
    for (const qint64 line : contents.refused) lines.append(QString::number(line));
    QString named = lines.join(u',') + QStringLiteral("行目");
    if (const qint64 rest = contents.refusedCount - contents.refused.size(); rest > 0)
      named += QStringLiteral("ほか%1行").arg(rest);
    prompter_.ask(QStringLiteral("読み込めなかった行があります（%1）").arg(named), MsgIcon::Exclamation);
  }
}

bool BriskSession::sendFrame(const QByteArray& frame) {
  if (!link_.write(frame)) return false;
  if (events) {
    events->AddLog(QStringLiteral("[送信]：%1 + CR(0Dh)").arg(QString::fromLatin1(frame.chopped(1))), LineKind::Sent);
    events->frameSent({{}, frame, EventClock::now()});
  }
  return true;
}

bool BriskSession::write(const QString& dataFile) {
  QByteArray text;
  for (int r = 1; r <= kRows && !blank(Event[std::size_t(r)]); ++r) {
    text += QByteArray::number(qint64(integerValue(Event[std::size_t(r)]).value_or(0)));
    if (!blank(Unit[std::size_t(r)]))
      text += ',' + QByteArray::number(qint64(integerValue(Unit[std::size_t(r)]).value_or(0)));
    text += "\r\n";
  }
  // A save that fails leaves the previous file as it was.
  return saveAtomically(dataFile, text).ok;
}

void BriskSession::Save(const QString& dataFile) {
  if (!Modified) return;
  std::array<QString, kRows + 1> events, units;
  int count = 0;
  if (!collect(events, units, count)) {
    prompter_.ask(kBlankFrameSave, MsgIcon::Exclamation);
    return;
  }
  for (int r = 1; r <= count; ++r) {
    if (!blank(Event[std::size_t(r)])) continue;
    if (prompter_.ask(kClosingUpSave, MsgIcon::Exclamation, kTitle3J, MsgButtons::YesNo) != MsgAnswer::Yes) {
      prompter_.ask(kSaveCancelled, MsgIcon::Exclamation);
      return;
    }
    closeUp(events, units, count);
    break;
  }
  if (count == 0) {
    prompter_.ask(kNothingToSave, MsgIcon::Information);
    return;
  }
  // Numbers only: a cell that does not read as one is not written as zero.
  for (int r = 1; r <= count; ++r) {
    if (!integerValue(Event[std::size_t(r)]) || !integerValue(Unit[std::size_t(r)])) {
      prompter_.ask(kSaveFailed, MsgIcon::Exclamation);
      return;
    }
  }
  if (!write(dataFile)) {
    prompter_.ask(kSaveFailed, MsgIcon::Exclamation);
    return;
  }
  Modified = false;
  prompter_.ask(kSaved, MsgIcon::Information);
}

void BriskSession::DefaultTable(const QString& dataFile) {
  if (Modified && hasData()) {
    const MsgAnswer answer = prompter_.ask(kSaveShown, MsgIcon::Exclamation, kTitle3J, MsgButtons::YesNoCancel);
    if (answer == MsgAnswer::Cancel) return;
    if (answer == MsgAnswer::Yes) Save(dataFile);
  }
  for (int r = 1; r <= kRows; ++r) {
    Event[std::size_t(r)] = r <= 16 ? QString::number(r) : QString();
    Unit[std::size_t(r)] = r <= 16 ? (UnitWidth == 3 ? QStringLiteral("123") : QStringLiteral("1234")) : QString();
  }
  Modified = false;
}

void BriskSession::DeleteRow() {
  const int row = CurrentRow;
  if (prompter_.ask(QString::number(row) + kDeleteRow, MsgIcon::Exclamation, kTitle3J, MsgButtons::YesNo) !=
      MsgAnswer::Yes)
    return;
  for (int r = row; r < kRows; ++r) {
    Event[std::size_t(r)] = Event[std::size_t(r) + 1];
    Unit[std::size_t(r)] = Unit[std::size_t(r) + 1];
  }
  Event[kRows].clear();
  Unit[kRows].clear();
  Modified = true;
}

void BriskSession::ClearAll() {
  if (!hasData()) {
    prompter_.ask(kNothingToDelete, MsgIcon::Information);
  } else if (prompter_.ask(kDeleteAll, MsgIcon::Exclamation, kTitle3J, MsgButtons::YesNo) == MsgAnswer::Yes) {
    for (int r = 1; r <= kRows; ++r) {
      Event[std::size_t(r)].clear();
      Unit[std::size_t(r)].clear();
    }
    Modified = true;
  }
  select(1, EventColumn);
}

}  // namespace kestrel
