// The hex dump window: the raw bytes of one block, 16, 24 or 32 to a line.
// It is created at start-up, hidden until a block is shown, and closing it
// only hides it: the choice of width stays for the next dump.
#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

#include "analysis/dump.h"

class QPlainTextEdit;
class QRadioButton;

namespace mpg::ui {

class TFormDU : public QWidget {
    Q_OBJECT
  public:
    explicit TFormDU(QWidget* parent = nullptr);

    // Shows the block's bytes (a copy is kept, so that the width can change
    // later): a long block's first and last bytes with the gap line between.
    void MakeDump(const BlockDump& dump);
    int bytesPerLine() const;
    QString text() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Radio16Click();

    QRadioButton* Radio16;
    QRadioButton* Radio24;
    QRadioButton* Radio32;
    QPlainTextEdit* MemoH;
    BlockDump dump_;
};

}  // namespace mpg::ui
