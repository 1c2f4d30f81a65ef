// The hex dump window. It is created at start-up and stays hidden until a
// block is shown in it.
#pragma once

#include <QWidget>

namespace mpg::ui {

class TFormDU : public QWidget {
    Q_OBJECT
  public:
    explicit TFormDU(QWidget* parent = nullptr);
};

}  // namespace mpg::ui
