#pragma once
// The channel-entry panel: automatic or manual mode, the manual boxes, the
// channels per frame and repeat.

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

struct EntryPanelSpec {
  QString autoCaption = QStringLiteral("オートモード（１～２５５まで自動再生）");
  int boxMaxLength = 3;  // 4 in the 1000-channel windows
  QString unitDefault = QStringLiteral("08");
  bool selectOnFocus = false;  // the boxes select their text whenever they take the focus
};

class EntryPanel : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kBoxes = 20;

  explicit EntryPanel(EntryPanelSpec spec, QWidget* parent = nullptr);

  // Automatic mode, empty boxes, the default channel unit.
  void InitForm();
  void setAutoCaption(const QString& caption);
  bool manualMode() const;
  // Shows the first problem and puts the focus on its box; true when the
  // entries may be used.
  bool CheckInput(int limit, const QString& rangeMessage);
  QStringList channelList(int maxChannel, int width) const;
  int channelUnit() const;

  QList<QRadioButton*> OptMode;
  QGroupBox* FrManual;
  QList<QLineEdit*> TxtNo;
  QLabel* LblHelp;
  QLineEdit* TxtCh;
  QLabel* Label1;
  QCheckBox* chk_Repeat;
  QPushButton* CmdCls;

 signals:
  void manualModeChanged(bool manual);
  void repeatChanged(int value);

 private:
  void showMode(bool manual);
  QStringList boxTexts() const;

  EntryPanelSpec spec_;
};

}  // namespace kestrel
