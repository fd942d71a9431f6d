#pragma once
// The frame editor's table and what its buttons do: up to twenty frames of
// an event number (1-16) and a unit number, kept in "data.dat" and sent as
// "@" + event character + unit digits + CR with a pause after each. Nothing
// is read back.

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace kestrel {

class LinkPort;
class Pause;
class Prompter;
class SessionEvents;

class BriskSession {
 public:
  static constexpr int kRows = 20;
  enum Column { FrameColumn = 0, EventColumn = 1, UnitColumn = 2 };

  // Its notices and questions go to `prompter`.
  BriskSession(LinkPort& link, Pause& pause, Prompter& prompter);

  // "@", the event character, the unit digits, CR.
  static QByteArray frame(int event, const QString& unitDigits);

  // The buttons. `dataFile` is "data.dat" in the application's folder.
  void DefaultTable(const QString& dataFile);
  void Load(const QString& dataFile);
  void SendOne();
  void SendAll();
  void Save(const QString& dataFile);
  void DeleteRow();
  void ClearAll();
  // A cell edited by the operator.
  void setCell(int row, int column, const QString& text);

  // The window's state. Rows count from 1; index 0 is unused.
  std::array<QString, kRows + 1> Event;
  std::array<QString, kRows + 1> Unit;
  int UnitWidth = 3;
  bool Modified = false;
  QString PauseText = QStringLiteral("50");  // TxtIoTime
  int CurrentRow = 1;
  int CurrentColumn = EventColumn;
  bool EditCell = false;  // the current cell is to be opened for editing
  // Where each frame is reported once it is out, with its line; the window
  // has no log and leaves it unset.
  SessionEvents* events = nullptr;

 private:
  std::optional<int> validatePause();
  bool validateCell(int row, int column);
  std::optional<QByteArray> buildFrame(int row);
  bool hasData() const;
  // Rows with both cells filled, closed up to the top; false (and the empty
  // cell selected) when a row has only one of them.
  bool collect(std::array<QString, kRows + 1>& events, std::array<QString, kRows + 1>& units, int& count);
  void closeUp(const std::array<QString, kRows + 1>& events, const std::array<QString, kRows + 1>& units, int count);
  bool write(const QString& dataFile);
  void select(int row, int column, bool edit = false);
  void sendFrames(int count);
  bool sendFrame(const QByteArray& frame);

  LinkPort& link_;
  Pause& pause_;
  Prompter& prompter_;
};

}  // namespace kestrel
