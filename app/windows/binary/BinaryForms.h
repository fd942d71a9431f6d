#pragma once
// The binary test windows: a session, its 100 ms timer and the shared
// test-window pieces. Each opens the expansion board as it loads and closes
// it as it unloads.

#include "sessions/BinarySessions.h"
#include "kit/TestWindow.h"

class QLineEdit;

namespace kestrel {

class Pause;

template <class Session>
class BinaryForm : public TestWindow {
 public:
  Session& session() { return session_; }
  // Time1: one step of the list per tick while it runs.
  FormTimer Time1;
  void Time1_Timer() { checked(session_.Time1_Timer()); }

 protected:
  template <class... Args>
  BinaryForm(const WindowContext& context, const TestWindowSpec& spec, WexfordApi& board, Pause& pause, Args&&... args)
      : TestWindow(context, spec),
        Time1([this] { Time1_Timer(); }, false),
        session_(std::forward<Args>(args)..., board, Time1, sessionEvents(), pause) {}

  void Unload() override { checked(session_.Unload()); }
  // What the window tells when the library cannot be used.
  virtual void libraryUnavailable() = 0;
  // A board that failed has ended the run and said so in the log; a library
  // that cannot be used is told as the window tells a missing one.
  void checked(const BoardResult& r) {
    if (r.fault == BoardFault::Unavailable) libraryUnavailable();
  }

  Session session_;
};

// FrmBiMode7Q and FrmBiMode1000CH.
class BufferedBinaryForm : public BinaryForm<BufferedBinarySession> {
  Q_OBJECT
 public:
  QLineEdit* TxtIoTime;
 protected:
  BufferedBinaryForm(const WindowContext& context, WexfordApi& board, Pause& pause, const BufferedBinaryVariant& variant,
                     const QString& name);
  void load();
  void CmdAction_Click(int index) override;
  void libraryUnavailable() override;

 private:
  bool lumo() const { return !session_.variant().tenBits; }
  void keepResetAsItIs();
  qint16 positiveLogic_;  // the menu entry's, for the ten-bit window
};

class FrmBiMode7Q : public BufferedBinaryForm {
  Q_OBJECT
 public:
  explicit FrmBiMode7Q(const WindowContext& context);
  FrmBiMode7Q(const WindowContext& context, WexfordApi& board, Pause& pause);
};

class FrmBiMode1000CH : public BufferedBinaryForm {
  Q_OBJECT
 public:
  explicit FrmBiMode1000CH(const WindowContext& context);
  FrmBiMode1000CH(const WindowContext& context, WexfordApi& board, Pause& pause);
};

class FrmBinaryMode2 : public BinaryForm<BinaryMode2Session> {
  Q_OBJECT
 public:
  explicit FrmBinaryMode2(const WindowContext& context);
  FrmBinaryMode2(const WindowContext& context, WexfordApi& board, Pause& pause);
 protected:
  void CmdAction_Click(int index) override;
  void libraryUnavailable() override;
};

}  // namespace kestrel
