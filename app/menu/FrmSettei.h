#pragma once

#include <QDialog>
#include <QList>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace kestrel {

struct BenchState;

// Version information and the choice of serial port.
class FrmSettei : public QDialog {
  Q_OBJECT
 public:
  explicit FrmSettei(BenchState& bench, QWidget* parent = nullptr);

  QFrame* Picture1;
  QList<QLabel*> LblCaption;
  QTabWidget* StbSettei;
  QLabel* Label1;
  QLabel* lblModel;
  QLabel* lblVersion;
  QPlainTextEdit* txtRelease;
  QLabel* LblStuffTitle;
  QLabel* LblStuff;
  QList<QLabel*> LblCredit;
  QList<QRadioButton*> Option1;
  QList<QLabel*> LblDevice;  // where each port number goes on this machine
  QList<QComboBox*> CboDevice;  // the machine's ports to choose from, per number
  QList<QLabel*> LblSource;     // says when KESTREL_COMn overrides the choice
  QCheckBox* chk_Utf8Log;       // journals and saved logs in UTF-8 with LF
  QPushButton* CmdOk;
  QPushButton* CmdCancel;

 private:
  void loadReleaseNotes();
  void CmdOk_Click();
  void fillDevices(int index);

  BenchState& bench_;
};

// "release.txt" in `folder`, as CP932 lines; without it, the UTF-8 one in the
// documentation folder of an installed tester (../share/doc/kestrel-tester
// from `folder`); "" when there is neither.
QString readReleaseNotes(const QString& folder);

}  // namespace kestrel
