#pragma once
// Fakes and helpers for driving windows without a person at the screen.

#include "kit/MessageService.h"
#include "core/Pause.h"
#include "core/RegistryStore.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace kestrel::test {

// A file of these bytes, written whole, or the test fails.
inline void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
  ASSERT_TRUE(file.flush());
}

// Records every message and answers from a script (Ok when it runs dry).
class RecordingPrompt : public Prompt {
 public:
  RecordingPrompt() { installPrompt(this); }
  ~RecordingPrompt() override { installPrompt(nullptr); }
  MsgAnswer ask(const Message& message, QWidget*) override {
    messages.push_back(message);
    if (answers.empty()) return MsgAnswer::Ok;
    const MsgAnswer a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::vector<QString> texts() const {
    std::vector<QString> out;
    for (const Message& m : messages) out.push_back(m.text);
    return out;
  }
  std::vector<Message> messages;
  std::vector<MsgAnswer> answers;
};

// Virtual time: sleeps are recorded, not waited.
class VirtualPause : public Pause {
 public:
  void sleep(int ms) override {
    sleeps.push_back(ms);
    now += ms;
  }
  void doEvents() override { QCoreApplication::processEvents(); }
  std::vector<int> sleeps;
  long long now = 0;
};

// A registry file of its own in a temporary folder, installed for the test.
class TempRegistry {
 public:
  TempRegistry() : store(dir.filePath(QStringLiteral("registry.json"))) { installRegistryStore(&store); }
  ~TempRegistry() { installRegistryStore(nullptr); }
  QTemporaryDir dir;
  FileRegistryStore store;
};

// Hands every new modal window to `handler`, until destroyed.
class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(QWidget*)> handler) : handler_(std::move(handler)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal != last_) {
        last_ = modal;
        handler_(modal);
      } else if (!modal) {
        last_ = nullptr;
      }
    });
    timer_.start(5);
  }

 private:
  std::function<void(QWidget*)> handler_;
  QTimer timer_;
  QPointer<QWidget> last_;
};

}  // namespace kestrel::test
