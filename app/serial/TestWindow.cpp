#include "TestWindow.h"

#include "shell/Look.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

TestWindow::TestWindow(QWidget* parent, const TestWindowSpec& spec) : QDialog(parent) {
  setObjectName(spec.name);
  setWindowTitle(spec.designCaption);
  setFont(japaneseFont(kGothic));

  log = new LogModel(spec.log, this);
  FG1 = new LogGrid(log);
  if (spec.panel) panel = new EntryPanel(*spec.panel);

  auto* buttons = new QGridLayout;
  for (const ButtonSpec& b : spec.buttons) {
    auto* button = new QPushButton(b.caption);
    button->setObjectName(QStringLiteral("CmdAction(%1)").arg(b.index));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, i = b.index] { CmdAction_Click(i); });
    if (CmdAction.size() <= b.index) CmdAction.resize(b.index + 1);
    CmdAction[b.index] = button;
    buttons->addWidget(button, b.row, b.column);
  }
  auto* side = new QVBoxLayout;
  side->addLayout(buttons);
  extras_ = new QVBoxLayout;
  side->addLayout(extras_);
  side->addStretch(1);

  auto* top = new QHBoxLayout;
  if (panel) top->addWidget(panel, 1);
  top->addLayout(side);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(FG1, 1);
}

void TestWindow::showLoaded(const QString& caption) {
  loaded_ = true;
  // Whatever a window adds, no button of a test window is a default button:
  // Return in an entry box must not press one.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);
  setShiftJisCharset(this);
  setWindowTitle(caption);
}

void TestWindow::done(int result) {
  if (loaded_ && !unloaded_) {
    unloaded_ = true;
    Unload();
  }
  QDialog::done(result);
}

void TestWindow::keyPressEvent(QKeyEvent* event) {
  // Escape would close the window and end the unit's run; Return would press
  // a default button. Only 終了 and the title bar close a test window.
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: event->accept(); return;
    default: QDialog::keyPressEvent(event);
  }
}

}  // namespace kestrel
