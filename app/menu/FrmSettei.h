#pragma once

#include <QDialog>
#include <QList>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
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
  QLineEdit* txtResults;        // 結果の保存先: a file or a postgresql:// URL; empty for the default file
  QLabel* LblResultsSource;     // where results go now, and whether the environment decides
  QLabel* LblResultsError;      // what is wrong with the text; hidden when nothing is
  QPushButton* CmdOk;
  QPushButton* CmdCancel;

 private:
  void loadReleaseNotes();
  void CmdOk_Click();
  void fillDevices(int index);

  BenchState& bench_;
};

// The results location the settings screen keeps; "" when none was chosen.
QString storedResultsLocation();
// False when the settings store could not be written.
bool storeResultsLocation(const QString& text);

// "release.txt" in `folder`, as CP932 lines; without it, the UTF-8 one in the
// documentation folder of an installed tester (../share/doc/kestrel-tester
// from `folder`); "" when there is neither.
QString readReleaseNotes(const QString& folder);

}  // namespace kestrel
