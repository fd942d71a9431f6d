#pragma once

#include "BufferedSession.h"

#include <QDialog>
#include <QList>
#include <memory>

class QPushButton;

namespace kestrel {

class EntryPanel;
class LogGrid;
class LogModel;
class Pause;
class SerialLink;

// Buffered RS-232C control for 255 and 250 channels and TARN5-KLV, chosen
// by the menu's SubMode.
class FrmRS232CMode2 : public QDialog {
  Q_OBJECT
 public:
  explicit FrmRS232CMode2(QWidget* parent = nullptr);
  FrmRS232CMode2(QWidget* parent, Pause& pause);
  ~FrmRS232CMode2() override;

  BufferedSession& session() { return *session_; }

  SerialLink* PDQ_COM;
  EntryPanel* panel;
  LogModel* log;
  LogGrid* FG1;
  QList<QPushButton*> CmdAction;

 protected:
  void done(int result) override;

 private:
  void InitForm();
  void CmdAction_Click(int index);

  std::unique_ptr<BufferedSession> session_;
  bool unloaded_ = false;
};

}  // namespace kestrel
