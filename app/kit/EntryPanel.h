#pragma once
// The channel-entry panel: automatic or manual mode, the manual boxes, the
// channels per frame and repeat. Windows differ only by the data they pass.

#include "core/ChannelEntry.h"
#include "kit/MessageService.h"

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

class EntryPanel : public QWidget {
  Q_OBJECT
 public:
  explicit EntryPanel(EntryPanelSpec spec, QWidget* parent = nullptr);

  const EntryPanelSpec& spec() const { return spec_; }
  // Automatic mode, empty boxes, the default channel unit.
  void InitForm();
  void setAutoCaption(const QString& caption);
  bool manualMode() const;
  // Shows the first problem and puts the focus on its box; true when the
  // entries may be used.
  bool CheckInput();
  QStringList channelList(int maxChannel, int width) const;
  QList<qint64> channelNumbers(int maxChannel) const;
  int channelUnit() const;

  QList<QRadioButton*> OptMode;
  QGroupBox* FrManual;
  QList<QLineEdit*> TxtNo;
  QPushButton* CmdCls;
  QLabel* LblHelp = nullptr;
  QLineEdit* TxtCh = nullptr;
  QLabel* Label1 = nullptr;
  QCheckBox* chk_Repeat = nullptr;

 signals:
  void manualModeChanged(bool manual);
  void repeatChanged(int value);

 private:
  void showMode(bool manual);
  QStringList boxTexts() const;

  EntryPanelSpec spec_;
};

}  // namespace kestrel
