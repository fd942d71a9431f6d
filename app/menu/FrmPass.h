#pragma once

#include <QDialog>
#include <QList>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrel {

struct BenchState;

// Lower-case letters and digits, 8 and 5 characters.

// Access-code dialog. FrmPass01 and FrmPass02 differ only in the code they
// expect and the flag they set.
class FrmPass : public QDialog {
  Q_OBJECT
 public:
  static FrmPass* FrmPass01(BenchState& bench, QWidget* parent = nullptr);
  static FrmPass* FrmPass02(BenchState& bench, QWidget* parent = nullptr);

  QGroupBox* Frame1;
  QLabel* Label2;
  QLineEdit* TxtPass;
  QList<QPushButton*> CmdExe;

 private:
  FrmPass(const QString& name, QString code, qint16& granted, QWidget* parent);
  void CmdExe_Click(int index);
  void refocusEntry();

  const QString code_;
  qint16& granted_;
};

}  // namespace kestrel
