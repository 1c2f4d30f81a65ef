// The hex dump window: the raw bytes of one block, 16, 24 or 32 to a line.
// It is created at start-up, hidden until a block is shown, and closing it
// only hides it: the choice of width stays for the next dump.
#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "analysis/dump.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

namespace mpg::ui {

class TFormDU : public QWidget {
    Q_OBJECT
  public:
    explicit TFormDU(QWidget* parent = nullptr);

    // The backgrounds of the longest run and of the bytes past the declared
    // size, in the hex and the character columns alike.
    static const QColor kRunBackground;
    static const QColor kPastDeclaredBackground;

    // Shows the block's bytes (a copy is kept, so that the width can change
    // later): a long block's first and last bytes with the gap line between.
    // The window's title names the block; it widens for the lines, within
    // the screen.
    void MakeDump(const BlockDump& dump);
    int bytesPerLine() const;
    QString text() const;
    // Scrolls to the line that holds a stream position (decimal, or hex
    // with 0x) and selects its byte; refused with a message when the
    // position lies outside the block. False when refused.
    bool goToOffset(const QString& text);

    // The window's fixed texts shown anew in the current language.
    void retranslate();

  protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Radio16Click();
    void markHighlights();
    void fitWidth(const QString& longestLine);
    void placeTopRow();

    QRadioButton* Radio16;
    QRadioButton* Radio24;
    QRadioButton* Radio32;
    QLineEdit* EditGO;
    QLabel* LabelGO;
    QLabel* LabelRUN;
    QLabel* LabelPAST;
    QPlainTextEdit* MemoH;
    BlockDump dump_;
    bool shown_ = false;  // whether a block has been shown
};

}  // namespace mpg::ui
