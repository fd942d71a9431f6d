#include "windows/customer/FrmBrisk.h"

#include "kit/PortSetup.h"
#include "link/SerialLink.h"
#include "kit/FocusSelect.h"
#include "kit/Look.h"
#include "kit/MessageService.h"
#include "core/Pause.h"
#include "sessions/ModeProfile.h"

#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace kestrel {

namespace {

const QString kCaption = QStringLiteral("TARN5-NV制御（ORIS-9モード）");
const QColor kCurrentRow(0x00, 0xFF, 0xFF);

// Enter in an open cell commits and closes it at once and moves on, once.
// The standard delegate lets the key through to the grid, which moves, and
// queues a close of its own, which moved a second time.
class CellDelegate : public QStyledItemDelegate {
 public:
  explicit CellDelegate(FrameGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor && event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        emit commitData(editor);
        emit closeEditor(editor, QAbstractItemDelegate::NoHint);
        grid_->moveToNextCell();
        return true;
      }
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }

 private:
  FrameGrid* grid_;
};

}  // namespace

FrameGrid::FrameGrid(QWidget* parent) : QTableWidget(BriskSession::kRows, 3, parent) {
  setObjectName(QStringLiteral("FlexGrid1"));
  setAccessibleName(QStringLiteral("フレーム"));
  setHorizontalHeaderLabels({QStringLiteral("フレーム№"), QStringLiteral("イベント情報"), QStringLiteral("台番号")});
  verticalHeader()->hide();
  setSelectionMode(SingleSelection);
  setEditTriggers(DoubleClicked | AnyKeyPressed | EditKeyPressed);
  setItemDelegate(new CellDelegate(this));
  const int widths[] = {925, 1500, 1500};
  for (int c = 0; c < 3; ++c) setColumnWidth(c, twipsToPixels(widths[c], this));
  horizontalHeader()->setFixedHeight(twipsToPixels(230, this) + 4);
  verticalHeader()->setDefaultSectionSize(twipsToPixels(248, this) + 4);
  for (int r = 0; r < BriskSession::kRows; ++r) {
    for (int c = 0; c < 3; ++c) {
      auto* item = new QTableWidgetItem;
      item->setTextAlignment(Qt::AlignCenter);
      if (c == 0) item->setFlags(Qt::ItemIsEnabled);
      setItem(r, c, item);
    }
  }
}

void FrameGrid::moveToNextCell() {
  const int row = currentRow(), column = currentColumn();
  if (column == BriskSession::EventColumn)
    setCurrentCell(row, BriskSession::UnitColumn);
  else if (row + 1 < rowCount())
    setCurrentCell(row + 1, BriskSession::EventColumn);
}

void FrameGrid::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    moveToNextCell();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

FrmBrisk::FrmBrisk(const WindowContext& context) : FrmBrisk(context, realPause()) {}

FrmBrisk::FrmBrisk(const WindowContext& context, Pause& pause)
    : QDialog(context.parent), appFolder_(context.AppFolder), comPort_(context.ComPortNumber), link_(new SerialLink(this)), session_(*link_, pause, prompter_) {
  setObjectName(QStringLiteral("FrmBrisk"));
  setWindowTitle(kCaption);
  setFont(japaneseFont(kGothic));
  PDQ_Comm = link_;

  auto* data = new QGroupBox(QStringLiteral("送信データ設定"));
  auto* dataColumn = new QVBoxLayout(data);
  Option1 = {new QRadioButton(QStringLiteral("台番号3桁 ( 1～999 )")),
             new QRadioButton(QStringLiteral("台番号4桁 ( 1～9999 )"))};
  for (int i = 0; i < 2; ++i) {
    Option1[i]->setObjectName(QStringLiteral("Option1(%1)").arg(i));
    dataColumn->addWidget(Option1[i]);
    connect(Option1[i], &QRadioButton::toggled, this, [this, i](bool on) {
      if (on) session_.UnitWidth = i == 0 ? 3 : 4;
    });
  }
  Option1[0]->setChecked(true);

  auto* timing = new QGroupBox(QStringLiteral("時間設定"));
  auto* timingRow = new QHBoxLayout(timing);
  // The designed label "タイミング時間             ms" has the box over its gap.
  auto* before = new QLabel(QStringLiteral("タイミング時間"));
  TxtIoTime = new QLineEdit(session_.PauseText);
  TxtIoTime->setObjectName(QStringLiteral("TxtIoTime"));
  TxtIoTime->setAccessibleName(QStringLiteral("タイミング時間 ms"));
  TxtIoTime->setFixedWidth(TxtIoTime->fontMetrics().horizontalAdvance(QStringLiteral("000000")));
  before->setBuddy(TxtIoTime);
  selectAllOnFocus(TxtIoTime);
  timingRow->addWidget(before);
  timingRow->addWidget(TxtIoTime);
  timingRow->addWidget(new QLabel(QStringLiteral("ms")));
  timingRow->addWidget(new QLabel(QStringLiteral(" (0～1000ms)")));
  connect(TxtIoTime, &QLineEdit::textChanged, this, [this](const QString& text) { session_.PauseText = text; });

  FlexGrid1 = new FrameGrid;
  connect(FlexGrid1, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (!showing_ && item->column() > 0) session_.setCell(item->row() + 1, item->column(), item->text());
  });
  connect(FlexGrid1, &QTableWidget::currentCellChanged, this, [this](int row, int column, int previous, int) {
    if (showing_) return;
    session_.CurrentRow = row + 1;
    session_.CurrentColumn = qMax(column, int(BriskSession::EventColumn));
    paintCurrentRow(previous);
  });

  const QString captions[] = {QStringLiteral("デフォルトデータ表示"), QStringLiteral("データ読込"),
                              QStringLiteral("１フレーム送信"),       QStringLiteral("全フレーム送信"),
                              QStringLiteral("データ保存"),           QStringLiteral("１フレームクリア"),
                              QStringLiteral("オールクリア"),         QStringLiteral("終　　　了")};
  auto* buttons = new QVBoxLayout;
  for (int i = 0; i < 8; ++i) {
    auto* button = new QPushButton(captions[i]);
    button->setObjectName(QStringLiteral("Command1(%1)").arg(i));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    buttons->addWidget(button);
    Command1.append(button);
  }
  buttons->addStretch(1);

  auto* left = new QVBoxLayout;
  left->addWidget(data);
  left->addWidget(timing);
  left->addWidget(FlexGrid1, 1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  // Load: the port, without receive events; the window never reads.
  setShiftJisCharset(this);
  showTable();
  // With no log to say it in, a port that will not open is said in a box.
  QString failure;
  if (SetUpPort(*link_, {*windowProfile(objectName()).port}, comPort_, this, &failure) == PortSetupResult::Failed)
    MsgBox(this,
           QStringLiteral("COM%1（%2）を開けませんでした：%3").arg(link_->commPort()).arg(link_->device(), failure),
           MsgIcon::Exclamation);
}

FrmBrisk::~FrmBrisk() = default;

QString FrmBrisk::dataFile() const { return QDir(appFolder_).filePath(QStringLiteral("data.dat")); }

void FrmBrisk::keyPressEvent(QKeyEvent* event) {
  // Escape must not close the window, nor Return press a button.
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void FrmBrisk::Command1_Click(int index) {
  switch (index) {
    case 0: session_.DefaultTable(dataFile()); break;
    case 1: session_.Load(dataFile()); break;
    case 2: session_.SendOne(); break;
    case 3: session_.SendAll(); break;
    case 4: session_.Save(dataFile()); break;
    case 5: session_.DeleteRow(); break;
    case 6: session_.ClearAll(); break;
    case 7: close(); return;
  }
  showTable();
}

void FrmBrisk::showTable() {
  showing_ = true;
  for (int r = 1; r <= BriskSession::kRows; ++r) {
    FlexGrid1->item(r - 1, 0)->setText(QString::number(r));
    FlexGrid1->item(r - 1, 1)->setText(session_.Event[std::size_t(r)]);
    FlexGrid1->item(r - 1, 2)->setText(session_.Unit[std::size_t(r)]);
  }
  if (TxtIoTime->text() != session_.PauseText) TxtIoTime->setText(session_.PauseText);
  const int previous = FlexGrid1->currentRow();
  FlexGrid1->setCurrentCell(session_.CurrentRow - 1, session_.CurrentColumn);
  showing_ = false;
  paintCurrentRow(previous);
  if (session_.EditCell) {
    session_.EditCell = false;
    FlexGrid1->editItem(FlexGrid1->currentItem());
  }
}

void FrmBrisk::paintCurrentRow(int previous) {
  if (previous >= 0 && previous != FlexGrid1->currentRow())
    for (int c = 1; c < 3; ++c) FlexGrid1->item(previous, c)->setBackground(Qt::white);
  for (int c = 1; c < 3; ++c) FlexGrid1->item(FlexGrid1->currentRow(), c)->setBackground(kCurrentRow);
}

}  // namespace kestrel
