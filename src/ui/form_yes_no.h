// The program's one yes/no question: a small borderless window with a picture
// on the left, the question in the middle and two stacked buttons on the
// right. It is created once at start-up and reused for every question; the
// picture the user picked and the last focus choice carry over from one
// question to the next. Every control's object name is its design name
// (ImageQ, LabelTXT, BitBtnDa...), so tests and the rest of the program can
// find it.
#pragma once

#include <QChar>
#include <QDialog>
#include <QString>
#include <array>

class QLabel;
class QPushButton;

namespace mpg::ui {

class TImage;

class TFormYesNo : public QDialog {
    Q_OBJECT
  public:
    explicit TFormYesNo(QWidget* parent = nullptr);

    // Asks `message` with the captions "да" and "нет", centred over `owner`
    // (a window; anything else centres on the screen). True only when the
    // first button was pressed.
    bool AskYesNo(const QString& message, QWidget* owner);
    // The same with the caller's captions; `defaultButton` 'y' puts the focus
    // on the first button, anything else on the second.
    bool AskYesNoCaptions(const QString& message, const QString& yesCaption,
                          const QString& noCaption, QChar defaultButton, QWidget* owner);

    // Letter of the picture shown: 'q', 'r', 'b' or 'y'.
    QChar currentPicture() const { return picture_; }

    // Shows the current picture (or, with false, none of them).
    void showPicture(bool show);
    // Back to the design size and text.
    void restoreDesignSize();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  public slots:
    void done(int result) override;

  private:
    void resetToDesign();
    void prepareAnswer();
    void restoreAfterAnswer();
    void keepButtonsRight();
    void startWindowMove();
    void answerYes();
    void answerNo();
    void showNextPicture(const TImage* sender);

    void centreOver(const QWidget* owner);
    void setMessage(const QString& message);
    bool askModal();

    // In the order the double clicks cycle through them: q, r, b, y.
    std::array<TImage*, 4> images_{};
    QLabel* LabelTXT = nullptr;
    QPushButton* BitBtnDa = nullptr;
    QPushButton* BitBtnNet = nullptr;

    QChar picture_ = u'q';       // letter of the visible picture
    QChar focusChoice_ = u'\0';  // 'y': the first button gets the focus on show
    quint8 answer_ = 0;          // 1 after the first button
    QChar captionMode_ = u'r';   // 'r': show "да"/"нет"; 'x': keep the caller's captions
};

}  // namespace mpg::ui
