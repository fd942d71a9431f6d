#include "Pause.h"

#include <QCoreApplication>
#include <QThread>

namespace kestrel {

namespace {
class RealPause final : public Pause {
 public:
  void sleep(int ms) override {
    if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
  }
  void doEvents() override { QCoreApplication::processEvents(); }
};
}  // namespace

Pause& realPause() {
  static RealPause pause;
  return pause;
}

}  // namespace kestrel
