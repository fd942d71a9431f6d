#pragma once

#include "sessions/ModeCatalogue.h"

#include <QList>
#include <QWidget>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kestrel {

struct BenchState;
class WexfordApi;

// The main menu: the mode catalogue and the start, settings and exit buttons.
class FrmMenu : public QWidget {
  Q_OBJECT
 public:
  FrmMenu(BenchState& bench, WexfordApi& board, QWidget* parent = nullptr);
  explicit FrmMenu(BenchState& bench);

  // Handed to a shared test window as it opens; an entry that sets none
  // leaves the last one.
  qint16 SubMode = 0;
  qint16 PositiveLogic = 0;

  // Trial open of the expansion board before a binary window opens.
  bool CheckBoardConnection();

  QList<QLabel*> LblTitle;
  QLabel* Label1;
  QLabel* Image1;
  QGroupBox* FrMenu;
  QList<QRadioButton*> ExecMode;
  QList<QPushButton*> Command1;

 private:
  void Command1_Click(int index);
  void startSelectedMode();
  bool passGate(Gate gate);

  BenchState& bench_;
  WexfordApi& board_;
  QButtonGroup* modes_;
};

}  // namespace kestrel
