#pragma once

#include <QWidget>

class QLabel;
class QFrame;

namespace kestrel {

// Shown during start-up only.
class FrmSplash : public QWidget {
  Q_OBJECT
 public:
  explicit FrmSplash(QWidget* parent = nullptr);

  QLabel* Image2;
  QFrame* Shape1;
  QLabel* lblProductName;
  QLabel* lblSubTitle;
};

}  // namespace kestrel
