#include "ui/form_yes_no.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "ui/widgets.h"

namespace mpg::ui {

namespace {

constexpr int kWidth = 348;
constexpr int kHeight = 88;

// The picture letters in the order double clicks cycle through them.
constexpr char16_t kPictureOrder[] = u"qrby";

QString text(const char* source) {
    return QCoreApplication::translate("mpg::ui::TFormYesNo", source);
}

QString designText() {
    return text(QT_TRANSLATE_NOOP("mpg::ui::TFormYesNo",
                                  "Вы действительно хотите удалить текущую запись?"));
}

QString emptyMessageText() {
    return text(QT_TRANSLATE_NOOP("mpg::ui::TFormYesNo",
                                  "Вы действительно хотите\r\nудалить текущую запись?"));
}

QString yesText() {
    return text(QT_TRANSLATE_NOOP("mpg::ui::TFormYesNo", "да"));
}

QString noText() {
    return text(QT_TRANSLATE_NOOP("mpg::ui::TFormYesNo", "нет"));
}

}  // namespace

TFormYesNo::TFormYesNo(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("FormYesNo"));
    setFont(windowFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(pal);
    setAutoFillBackground(true);

    const struct {
        const char* name;
        const char* picture;
    } pictures[] = {{"ImageQ", "question"},
                    {"ImageR", "skull-red"},
                    {"ImageB", "skull-blue"},
                    {"ImageY", "warning"}};
    for (size_t i = 0; i < images_.size(); ++i) {
        auto* image = new TImage(QString::fromLatin1(pictures[i].name),
                                 QString::fromLatin1(pictures[i].picture), this);
        image->setGeometry(16, 24, 40, 40);
        image->hide();
        connect(image, &TImage::doubleClicked, this, [this, image] { showNextPicture(image); });
        images_[i] = image;
    }

    LabelTXT = new QLabel(designText(), this);
    LabelTXT->setObjectName(QStringLiteral("LabelTXT"));
    LabelTXT->setGeometry(64, 8, 163, 73);
    LabelTXT->setAlignment(Qt::AlignCenter);
    LabelTXT->setWordWrap(true);
    QPalette labelPal = LabelTXT->palette();
    labelPal.setColor(QPalette::WindowText, QColor(128, 128, 128));
    LabelTXT->setPalette(labelPal);
    // A press on the text drags the window like one on the background, so the
    // label lets the mouse through to the dialog.
    LabelTXT->setAttribute(Qt::WA_TransparentForMouseEvents);

    BitBtnDa = new QPushButton(yesText(), this);
    BitBtnDa->setObjectName(QStringLiteral("BitBtnDa"));
    BitBtnDa->setFont(smallFont());
    BitBtnDa->setGeometry(235, 16, 97, 25);
    connect(BitBtnDa, &QPushButton::clicked, this, &TFormYesNo::answerYes);

    BitBtnNet = new QPushButton(noText(), this);
    BitBtnNet->setObjectName(QStringLiteral("BitBtnNet"));
    BitBtnNet->setFont(smallFont());
    BitBtnNet->setGeometry(235, 48, 97, 25);
    connect(BitBtnNet, &QPushButton::clicked, this, &TFormYesNo::answerNo);

    // "No" comes first in the tab order: the safe answer is the easy one.
    setTabOrder(BitBtnNet, BitBtnDa);

    resetToDesign();
}

void TFormYesNo::resetToDesign() {
    captionMode_ = u'r';
    picture_ = u'q';
    restoreDesignSize();
}

bool TFormYesNo::AskYesNo(const QString& message, QWidget* owner) {
    centreOver(owner);
    setMessage(message);
    // The focus choice stays as the last AskYesNoCaptions left it.
    return askModal();
}

bool TFormYesNo::AskYesNoCaptions(const QString& message, const QString& yesCaption,
                                  const QString& noCaption, QChar defaultButton, QWidget* owner) {
    centreOver(owner);
    setMessage(message);
    focusChoice_ = defaultButton == u'y' ? u'y' : u'n';
    BitBtnDa->setText(yesCaption);
    BitBtnNet->setText(noCaption);
    // Keep the caller's captions for this one question only.
    const QChar savedMode = captionMode_;
    captionMode_ = u'x';
    const bool yes = askModal();
    captionMode_ = savedMode;
    return yes;
}

void TFormYesNo::centreOver(const QWidget* owner) {
    // Outer bounds of the owner window, frame included; the quotients are
    // truncated toward zero, so a dialog wider than its owner sticks out by
    // the same amount on both sides give or take a pixel.
    QRect area;
    if (owner && owner->isWindow()) {
        area = owner->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->geometry();
    }
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
}

void TFormYesNo::setMessage(const QString& message) {
    LabelTXT->setText(message.isEmpty() ? emptyMessageText() : message);
}

bool TFormYesNo::askModal() {
    exec();
    return answer_ == 1;
}

void TFormYesNo::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A spontaneous show is the window manager restoring the window, not a
    // new question.
    if (!event->spontaneous()) prepareAnswer();
}

void TFormYesNo::prepareAnswer() {
    answer_ = 0;
    if (captionMode_ == u'r') {
        BitBtnDa->setText(yesText());
        BitBtnNet->setText(noText());
    }
    (focusChoice_ == u'y' ? BitBtnDa : BitBtnNet)->setFocus(Qt::OtherFocusReason);
    showPicture(true);
}

void TFormYesNo::showPicture(bool show) {
    for (int i = 0; i < 4; ++i) {
        images_[i]->setVisible(show && picture_ == QChar(kPictureOrder[i]));
    }
}

void TFormYesNo::showNextPicture(const TImage* sender) {
    // The letter after "image" in the sender's name says which picture was
    // clicked; the next one in the order follows, the first after the last.
    const QString name = sender->objectName().toLower();
    const QChar clicked = name.size() > 5 ? name.at(5) : QChar();
    int next = 0;
    for (int i = 0; i < 4; ++i) {
        if (clicked == QChar(kPictureOrder[i])) next = (i + 1) % 4;
    }
    picture_ = QChar(kPictureOrder[next]);
    showPicture(true);
}

void TFormYesNo::answerYes() {
    answer_ = 1;
    accept();
}

void TFormYesNo::answerNo() {
    answer_ = 0;
    reject();
}

void TFormYesNo::keyPressEvent(QKeyEvent* event) {
    // The question is answered with a button only; Escape must not slip
    // through to QDialog, which would close the window.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFormYesNo::done(int result) {
    // Every way of closing ends here: the buttons, and the window system's
    // close, which answers no since the answer byte is still 0.
    restoreAfterAnswer();
    QDialog::done(result);
}

void TFormYesNo::restoreAfterAnswer() {
    showPicture(true);
    restoreDesignSize();
}

void TFormYesNo::restoreDesignSize() {
    resize(kWidth, kHeight);
    LabelTXT->setText(designText());
}

void TFormYesNo::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    keepButtonsRight();
}

void TFormYesNo::keepButtonsRight() {
    // The buttons keep to the right edge and the text takes the room left.
    BitBtnDa->move(width() - BitBtnDa->width() - 16, BitBtnDa->y());
    BitBtnNet->move(BitBtnDa->x(), BitBtnNet->y());
    LabelTXT->resize(BitBtnDa->x() - LabelTXT->x() - 8, LabelTXT->height());
}

void TFormYesNo::mousePressEvent(QMouseEvent* event) {
    event->accept();
    startWindowMove();
}

void TFormYesNo::startWindowMove() {
    // Without a title bar the user drags the window by its background; the
    // window system does the moving.
    if (QWindow* window = windowHandle()) window->startSystemMove();
}

void TFormYesNo::paintEvent(QPaintEvent*) {
    // A two-pixel raised frame: light top and left edges, dark bottom and
    // right ones. Each segment covers its start pixel but not its end pixel,
    // where the next segment starts, so the corners take the colour of the
    // edge that leaves them. Spans are filled rather than drawn as lines to
    // keep that exact whatever the direction.
    QPainter p(this);
    const int w = width();
    const int h = height();
    QPoint at;
    auto lineTo = [&p, &at](const QColor& colour, QPoint to) {
        const QPoint step((to.x() > at.x()) - (to.x() < at.x()),
                          (to.y() > at.y()) - (to.y() < at.y()));
        const QPoint last = to - step;
        p.fillRect(QRect(QPoint(std::min(at.x(), last.x()), std::min(at.y(), last.y())),
                         QPoint(std::max(at.x(), last.x()), std::max(at.y(), last.y()))),
                   colour);
        at = to;
    };
    const QColor lightGrey(224, 224, 224);
    const QColor grey(128, 128, 128);
    at = QPoint(0, h - 1);
    lineTo(lightGrey, {0, 0});
    lineTo(lightGrey, {w - 1, 0});
    lineTo(Qt::black, {w - 1, h - 1});
    lineTo(Qt::black, {0, h - 1});
    at = QPoint(1, h - 2);
    lineTo(Qt::white, {1, 1});
    lineTo(Qt::white, {w - 2, 1});
    lineTo(grey, {w - 2, h - 2});
    lineTo(grey, {1, h - 2});
}

}  // namespace mpg::ui
