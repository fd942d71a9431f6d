#include "menu/FrmMenu.h"

#include "kit/AppEnd.h"
#include "kit/RunRecords.h"
#include "menu/FrmPass.h"
#include "menu/FrmResults.h"
#include "menu/FrmSettei.h"
#include "menu/BenchState.h"
#include "kit/Look.h"
#include "kit/MessageService.h"
#include "menu/ProductPicture.h"
#include "kit/TestWindows.h"
#include "sessions/BinaryLines.h"
#include "sessions/ModeProfile.h"
#include "results/ResultRecorder.h"
#include "sessions/WexfordBinding.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <memory>

namespace kestrel {

struct FrmMenu::Sink : RunRecordSink {
  explicit Sink(results::Recorder& r) : recorder(r) {}
  void record(results::Record r) override { recorder.record(std::move(r)); }
  results::Recorder& recorder;
};

FrmMenu::FrmMenu(BenchState& bench) : FrmMenu(bench, wexford()) {}

FrmMenu::~FrmMenu() {
  if (sink_ && runRecordSink() == sink_.get()) setRunRecordSink(nullptr);
}

FrmMenu::FrmMenu(BenchState& bench, WexfordApi& board, QWidget* parent)
    : QWidget(parent), bench_(bench), board_(board) {
  setObjectName(QStringLiteral("FrmMenu"));
  setFont(japaneseFont(kGothic));

  for (int i = 0; i < 4; ++i) {
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("LblTitle(%1)").arg(i));
    LblTitle.append(label);
  }
  LblTitle[0]->setFont(japaneseFont(kGothic, 13));
  LblTitle[1]->setFont(japaneseFont(kGothic, 22));
  LblTitle[2]->setText(QStringLiteral("Kestrel Tester 3.6J"));
  Label1 = new QLabel(QStringLiteral("テストモードを選択し開始ボタンをクリックしてください"));
  Label1->setObjectName(QStringLiteral("Label1"));
  Image1 = new QLabel;
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setPixmap(productPicture(150, 110));

  FrMenu = new QGroupBox;
  FrMenu->setObjectName(QStringLiteral("FrMenu"));
  auto* grid = new QGridLayout(FrMenu);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  modes_ = new QButtonGroup(this);
  int rows[2] = {0, 0};
  for (int i = 0; i < kModeCount; ++i) {
    const ModeEntry& entry = *modeProfile(i).entry;
    auto* option = new QRadioButton(entry.caption);
    option->setObjectName(QStringLiteral("ExecMode(%1)").arg(i));
    option->setEnabled(entry.gate != Gate::Disabled);
    modes_->addButton(option, i);
    ExecMode.append(option);
    const int column = entry.column == MenuColumn::Serial ? 0 : 1;
    grid->addWidget(option, rows[column]++, column, Qt::AlignLeft);
  }
  grid->setRowStretch(qMax(rows[0], rows[1]), 1);

  const QString captions[3] = {QStringLiteral("開  始"), QStringLiteral("設  定"), QStringLiteral("終  了")};
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (int i = 0; i < 3; ++i) {
    auto* button = new QPushButton(captions[i]);
    button->setObjectName(QStringLiteral("Command1(%1)").arg(i));
    button->setMinimumWidth(110);
    connect(button, &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    Command1.append(button);
    buttons->addWidget(button);
  }

  auto* heading = new QVBoxLayout;
  heading->addWidget(LblTitle[0]);
  heading->addWidget(LblTitle[1]);
  heading->addWidget(LblTitle[2]);
  heading->addWidget(LblTitle[3]);
  heading->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(Image1);
  top->addLayout(heading, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Label1);
  layout->addWidget(FrMenu, 1);
  layout->addLayout(buttons);

  CmdResults = new QPushButton(QStringLiteral("結果一覧"));
  CmdResults->setObjectName(QStringLiteral("CmdResults"));
  CmdResults->setAccessibleName(QStringLiteral("結果一覧"));
  CmdResults->setAutoDefault(false);
  connect(CmdResults, &QPushButton::clicked, this, [this] {
    FrmResults list(resultsLocation_, this);
    list.exec();
  });
  ResultsStatus = new QLabel;
  ResultsStatus->setObjectName(QStringLiteral("ResultsStatus"));
  ResultsStatus->setAccessibleName(QStringLiteral("結果の記録"));
  ResultsStatus->setWordWrap(true);
  ResultsStatus->hide();
  auto* resultsRow = new QHBoxLayout;
  resultsRow->addWidget(CmdResults);
  resultsRow->addWidget(ResultsStatus, 1);
  layout->addLayout(resultsRow);

  // Load.
  setShiftJisCharset(this);
  setWindowTitle(kTitle3J);
  LblTitle[0]->setText(QStringLiteral("実機再生テスト用ソフトウェア for LUMO ＆ TARNシリーズ"));
  LblTitle[1]->setText(QStringLiteral("Kestrel Tester"));
  LblTitle[3]->setText(QString());

  startRecorder();
  statusPoll_.setInterval(kStatusPollMs);
  connect(&statusPoll_, &QTimer::timeout, this, &FrmMenu::showRecorderStatus);
  statusPoll_.start();
}

void FrmMenu::startRecorder() {
  const QString chosen = results::chooseLocation({}, storedResultsLocation());
  if (chosen == resultsLocation_ && (recorder_ || !resultsProblem_.isEmpty())) return;
  // The old recorder hands on what it holds before the next one takes the queue.
  if (sink_ && runRecordSink() == sink_.get()) setRunRecordSink(nullptr);
  sink_.reset();
  recorder_.reset();
  resultsLocation_ = chosen;
  resultsProblem_.clear();
  QString error;
  const results::Location where = results::Location::parse(chosen, &error);
  if (!error.isEmpty()) {
    resultsProblem_ = QStringLiteral("結果の保存先が正しくありません：%1").arg(error);
  } else {
    recorder_ = std::make_unique<results::Recorder>(where);
    sink_ = std::make_unique<Sink>(*recorder_);
    setRunRecordSink(sink_.get());
  }
  showRecorderStatus();
}

void FrmMenu::showRecorderStatus() {
  QString text = resultsProblem_;
  bool fault = !text.isEmpty();
  if (recorder_) {
    const results::RecorderStatus s = recorder_->status();
    if (s.lost) {
      text = QStringLiteral("結果を記録できませんでした：%1").arg(s.lastError);
      fault = true;
    } else if (s.pending > 0) {
      text = QStringLiteral("結果一覧：未転送 %1 件").arg(s.pending);
      if (!s.lastError.isEmpty()) text += QStringLiteral("（%1）").arg(s.lastError);
    } else if (!s.lastError.isEmpty()) {
      text = QStringLiteral("結果の記録でエラー：%1").arg(s.lastError);
      fault = true;
    }
  }
  if (text == ResultsStatus->text() && ResultsStatus->isHidden() == text.isEmpty()) return;
  ResultsStatus->setText(text);
  ResultsStatus->setAccessibleDescription(text);
  ResultsStatus->setStyleSheet(fault ? QStringLiteral("color: #c00000") : QString());
  ResultsStatus->setVisible(!text.isEmpty());
}

void FrmMenu::Command1_Click(int index) {
  switch (index) {
    case 0: startSelectedMode(); break;
    case 1: {
      FrmSettei settings(bench_, this);
      settings.exec();
      // A new results location takes effect at once.
      startRecorder();
      break;
    }
    case 2:
      close();
      EndApplication();
      break;
  }
}

void FrmMenu::startSelectedMode() {
  const int selected = modes_->checkedId();
  if (selected < 0) return;
  const ModeProfile& mode = modeProfile(selected);
  const ModeEntry& entry = *mode.entry;
  if (!passGate(mode.gate())) return;
  if (entry.subMode >= 0) SubMode = qint16(entry.subMode);
  if (entry.positiveLogic >= 0) PositiveLogic = qint16(entry.positiveLogic);

  const WindowFactory factory = entry.window ? testWindowFactory(QString::fromLatin1(entry.window)) : nullptr;
  if (!factory) return;
  WindowContext context(this);
  context.SubMode = SubMode;
  context.PositiveLogic = PositiveLogic;
  context.ComPortNumber = bench_.ComPortNumber;
  context.AppFolder = bench_.AppFolder;
  context.Mode = selected;
  const std::unique_ptr<QDialog> window(factory(context));
  window->exec();
}

bool FrmMenu::passGate(Gate gate) {
  switch (gate) {
    case Gate::Access1:
      if (!bench_.Pass01Granted) {
        const std::unique_ptr<FrmPass> dialog(FrmPass::FrmPass01(bench_, this));
        dialog->exec();
      }
      return bench_.Pass01Granted != 0;
    case Gate::Access2:
      if (!bench_.Pass02Granted) {
        const std::unique_ptr<FrmPass> dialog(FrmPass::FrmPass02(bench_, this));
        dialog->exec();
      }
      return bench_.Pass02Granted != 0;
    case Gate::Board: return CheckBoardConnection();
    case Gate::Disabled: return false;
    case Gate::None: break;
  }
  return true;
}

bool FrmMenu::CheckBoardConnection() {
  try {
    WxfHandle handle = 0;
    board_.WXF_Open(&handle, 0, kWxfAnyBoard);
    if (handle != 0) {
      board_.WXF_Close(handle);
      return true;
    }
  } catch (...) {
    // A library that cannot be loaded, or any other failure: reported below like a failed open.
  }
  MsgBox(this, withDriverProblem(kBoardOpenFailed));
  return false;
}

}  // namespace kestrel
