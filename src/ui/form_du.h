// The hex dump window: the raw bytes of one block, 16, 24 or 32 to a line.
// It is created at start-up, hidden until a block is shown, and closing it
// only hides it: the choice of width stays for the next dump.
#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

class QPlainTextEdit;
class QRadioButton;

namespace mpg::ui {

class TFormDU : public QWidget {
    Q_OBJECT
  public:
    explicit TFormDU(QWidget* parent = nullptr);

    // Shows `bytes` (a copy is kept, so that the width can change later),
    // the first of which stands at stream position `baseOffset`.
    void MakeDump(const std::vector<uint8_t>& bytes, uint32_t baseOffset);
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
    std::vector<uint8_t> dumpBytes_;
    uint32_t baseOffset_ = 0;
};

}  // namespace mpg::ui
