#include "menu/FrmSplash.h"

#include "kit/Look.h"
#include "menu/ProductPicture.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace kestrel {

FrmSplash::FrmSplash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("FrmSplash"));
  setAttribute(Qt::WA_DeleteOnClose, false);

  auto* outer = new QVBoxLayout(this);
  auto* border = new QFrame;  // stands for the four frame lines
  border->setObjectName(QStringLiteral("Line1"));
  border->setFrameShape(QFrame::Box);
  border->setLineWidth(2);
  outer->addWidget(border);

  auto* row = new QHBoxLayout(border);
  Image2 = new QLabel;
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->setPixmap(productPicture(180, 130));
  row->addWidget(Image2);

  Shape1 = new QFrame;
  Shape1->setObjectName(QStringLiteral("Shape1"));
  Shape1->setFrameShape(QFrame::Box);
  auto* titles = new QVBoxLayout(Shape1);
  lblProductName = new QLabel(QStringLiteral("Kestrel Tester"));
  lblProductName->setObjectName(QStringLiteral("lblProductName"));
  lblProductName->setFont(japaneseFont(kGothic, 24));
  lblSubTitle = new QLabel(QStringLiteral("実機再生テスト用ソフトウェア for LUMO ＆ TARNシリーズ"));
  lblSubTitle->setObjectName(QStringLiteral("lblSubTitle"));
  lblSubTitle->setFont(japaneseFont(kGothic, 11));
  titles->addWidget(lblProductName);
  titles->addWidget(lblSubTitle);
  row->addWidget(Shape1, 1);

  setShiftJisCharset(this);
}

}  // namespace kestrel
