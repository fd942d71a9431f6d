#pragma once
// The headless demo's run: from the menu, as an operator would, a whole
// automatic run of the standard buffered window against whatever answers on
// the port, then a picture of the window with its log.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace kestrel {

class FrmMenu;
class FrmRS232CMode2;

class DemoRun : public QObject {
  Q_OBJECT
 public:
  // バッファ機能付RS232C制御モード 標準 (255 channels).
  static constexpr int kMenuEntry = 1;
  static constexpr int kPollMs = 50;
  // Polls after the run before the picture: the grid scrolls to its last
  // line on a later pass of the event loop.
  static constexpr int kSettlePolls = 4;
  static constexpr int kDefaultLimitMs = 60000;

  // `limitMs` bounds everything from start() to the picture.
  DemoRun(FrmMenu& menu, QString picture, int limitMs = kDefaultLimitMs, QObject* parent = nullptr);

  // Sets the steps going and returns at once: the window opens modally from
  // a queued call, and a timer drives it from inside its event loop.
  void start();

 signals:
  // Once, with the window closed again (unless a message box kept it open):
  // on success what was played and how long it took, else why it failed.
  void finished(bool ok, const QString& message);

 private:
  enum class Step { OpenWindow, Playing, Settling, Over };

  void poll();
  void pressStart();
  void play(FrmRS232CMode2* window);
  bool runEnded() const;
  void savePicture();
  void fail(const QString& why);
  void finish(bool ok, const QString& message);

  FrmMenu& menu_;
  QString picture_;
  int limitMs_;
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 playedAt_ = 0;
  Step step_ = Step::OpenWindow;
  int settled_ = 0;
  QPointer<FrmRS232CMode2> window_;
};

}  // namespace kestrel
