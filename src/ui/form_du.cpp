#include "ui/form_du.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

#include "analysis/dump.h"
#include "analysis/error_list.h"
#include "text/messages.h"
#include "text/translate.h"
#include "ui/page_kit.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

constexpr int kMemoTop = 24;
// The width the window opens with, and the least it narrows to for a dump:
// the top row's controls need it.
constexpr int kLeastWidth = 450;
constexpr int kGoLeft = 156;
constexpr int kGoWidth = 120;
constexpr int kLegendWidth = 56;

QLabel* legend(QWidget* parent, const char* name, const QColor& background) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    QPalette p = label->palette();
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, QColor(160, 255, 255));
    label->setPalette(p);
    return label;
}

}  // namespace

// Dark enough for the dump's light cyan text to stay readable on them.
const QColor TFormDU::kRunBackground(160, 40, 60);
const QColor TFormDU::kPastDeclaredBackground(40, 110, 50);

TFormDU::TFormDU(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FormDU"));
    resize(kLeastWidth, 256);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move((s.width() - width()) / 2, (s.height() - height()) / 2);
    }
    Radio16 = new QRadioButton(QStringLiteral("16"), this);
    Radio24 = new QRadioButton(QStringLiteral("24"), this);
    Radio32 = new QRadioButton(QStringLiteral("32"), this);
    int x = 8;
    for (QRadioButton* r : {Radio16, Radio24, Radio32}) {
        r->setObjectName(QStringLiteral("Radio") + r->text());
        r->setGeometry(x, 4, 44, 17);
        x += 48;
        connect(r, &QRadioButton::clicked, this, &TFormDU::Radio16Click);
    }
    Radio16->setChecked(true);

    EditGO = new QLineEdit(this);
    EditGO->setObjectName(QStringLiteral("EditGO"));
    EditGO->setGeometry(kGoLeft, 2, kGoWidth, 20);
    connect(EditGO, &QLineEdit::returnPressed, this, [this] { goToOffset(EditGO->text()); });
    LabelGO = new QLabel(this);
    LabelGO->setObjectName(QStringLiteral("LabelGO"));
    LabelRUN = legend(this, "LabelRUN", kRunBackground);
    LabelPAST = legend(this, "LabelPAST", kPastDeclaredBackground);

    MemoH = new QPlainTextEdit(this);
    MemoH->setObjectName(QStringLiteral("MemoH"));
    MemoH->setReadOnly(true);
    MemoH->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoH->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoH->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoH->setFont(fixedFont());
    QPalette p = MemoH->palette();
    p.setColor(QPalette::Base, QColor(112, 112, 144));
    p.setColor(QPalette::Text, QColor(160, 255, 255));
    MemoH->setPalette(p);
    MemoH->setGeometry(0, kMemoTop, width(), height() - kMemoTop);
    placeTopRow();
    retranslate();
}

void TFormDU::retranslate() {
    if (shown_) {
        setWindowTitle(tr("блок %1, %2, позиция %3")
                           .arg(grouped(dump_.index),
                                QString::fromStdString(formatShortCode(dump_.record.code)),
                                grouped(dump_.titled)));
    } else {
        setWindowTitle(tr("dump"));
    }
    EditGO->setPlaceholderText(tr("позиция: 1234 или 0x4D2"));
    EditGO->setToolTip(tr(
        "перейти к позиции в потоке (десятичной или шестнадцатеричной с 0x) и выделить её байт"));
    LabelRUN->setText(tr("повтор"));
    LabelRUN->setToolTip(tr("самый длинный повтор одинаковых байтов в блоке"));
    LabelPAST->setText(tr("лишнее"));
    LabelPAST->setToolTip(tr("байты за заявленным размером блока"));
}

void TFormDU::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        retranslate();
        // The gap line of a long block is a text of the language too.
        if (shown_) Radio16Click();
    }
    QWidget::changeEvent(event);
}

int TFormDU::bytesPerLine() const {
    if (Radio16->isChecked()) return 16;
    return Radio24->isChecked() ? 24 : 32;
}

QString TFormDU::text() const {
    return MemoH->toPlainText();
}

void TFormDU::MakeDump(const BlockDump& dump) {
    dump_ = dump;
    shown_ = true;
    LabelGO->clear();
    retranslate();
    Radio16Click();
}

void TFormDU::Radio16Click() {
    QString all;
    QString longest;
    for (const std::string& line : dumpLines(dump_, bytesPerLine())) {
        if (!all.isEmpty()) all += QLatin1Char('\n');
        const QString text = QString::fromStdString(line);
        if (text.size() > longest.size()) longest = text;
        all += text;
    }
    MemoH->setPlainText(all);
    markHighlights();
    if (shown_) fitWidth(longest);
}

void TFormDU::markHighlights() {
    const Position n = static_cast<Position>(bytesPerLine());
    QTextDocument* doc = MemoH->document();
    QTextCursor cursor(doc);
    const auto paint = [&](const QTextBlock& block, size_t from, size_t to,
                           const QTextCharFormat& format) {
        cursor.setPosition(block.position() + static_cast<int>(from));
        cursor.setPosition(block.position() + static_cast<int>(to), QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(format);
    };
    // Bytes [from, to) of the head or of the tail, whose lines begin at
    // `base`, line by line.
    const auto markPart = [&](Position from, Position to, Position base,
                              const QTextCharFormat& format) {
        for (Position at = from; at < to;) {
            const Position end = std::min(to, base + ((at - base) / n + 1) * n);
            const DumpCell first = dumpCellOf(dump_, int(n), at);
            const DumpCell last = dumpCellOf(dump_, int(n), end - 1);
            const QTextBlock block = doc->findBlockByNumber(static_cast<int>(first.line));
            paint(block, first.hexColumn, last.hexColumn + 2, format);
            paint(block, first.charColumn, last.charColumn + 1, format);
            at = end;
        }
    };
    const Position headEnd = dump_.head.size();
    const Position tailAt = dump_.length - dump_.tail.size();
    cursor.beginEditBlock();
    for (const DumpHighlight& h : dumpHighlights(dump_.record, dump_.length)) {
        QTextCharFormat format;
        format.setBackground(h.mark == DumpMark::LongestRun ? kRunBackground
                                                            : kPastDeclaredBackground);
        markPart(h.from, std::min(h.to, headEnd), 0, format);
        if (!dump_.tail.empty()) markPart(std::max(h.from, tailAt), h.to, tailAt, format);
    }
    cursor.endEditBlock();
}

void TFormDU::fitWidth(const QString& longestLine) {
    // The line, the text's margins and frame, and the vertical scroll bar.
    const int text = MemoH->fontMetrics().horizontalAdvance(longestLine);
    const int chrome = 2 * MemoH->frameWidth() + MemoH->verticalScrollBar()->sizeHint().width() +
                       2 * static_cast<int>(MemoH->document()->documentMargin()) + 8;
    int wanted = std::max(kLeastWidth, text + chrome + 2 * MemoH->x());
    if (const QScreen* s = screen()) {
        const QRect room = s->availableGeometry();
        wanted = std::min(wanted, room.width());
        if (x() + wanted > room.right() + 1)
            move(std::max(room.left(), room.right() + 1 - wanted), y());
    }
    if (wanted != width()) resize(wanted, height());
}

bool TFormDU::goToOffset(const QString& input) {
    if (!shown_) return false;
    // A position copied from the list keeps its digit groups.
    QString digits = input.trimmed();
    digits.remove(QLatin1Char('\''));
    digits.remove(QLatin1Char(' '));
    bool ok = false;
    const qulonglong at = digits.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)
                              ? digits.mid(2).toULongLong(&ok, 16)
                              : digits.toULongLong(&ok, 10);
    if (!ok) {
        LabelGO->setText(tr("нужна позиция: десятичная или 0x…"));
        return false;
    }
    if (at < dump_.offset || at - dump_.offset >= dump_.length) {
        const Position last = dump_.offset + std::max<Position>(dump_.length, 1) - 1;
        LabelGO->setText(tr("вне блока: %1 – %2").arg(grouped(dump_.offset), grouped(last)));
        return false;
    }
    const DumpCell cell = dumpCellOf(dump_, bytesPerLine(), at - dump_.offset);
    const QTextBlock block = MemoH->document()->findBlockByNumber(static_cast<int>(cell.line));
    QTextCursor cursor(block);
    if (cell.shown) {
        cursor.setPosition(block.position() + static_cast<int>(cell.hexColumn));
        cursor.setPosition(block.position() + static_cast<int>(cell.hexColumn) + 2,
                           QTextCursor::KeepAnchor);
        LabelGO->clear();
    } else {
        LabelGO->setText(tr("эти байты в середине блока не показаны"));
    }
    MemoH->setTextCursor(cursor);
    MemoH->centerCursor();
    return true;
}

void TFormDU::keyPressEvent(QKeyEvent* event) {
    // Escape closes, as it closes a dialog; closing only hides.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFormDU::placeTopRow() {
    const int w = width();
    LabelPAST->setGeometry(w - kLegendWidth - 8, 3, kLegendWidth, 18);
    LabelRUN->setGeometry(LabelPAST->x() - kLegendWidth - 4, 3, kLegendWidth, 18);
    const int messageLeft = kGoLeft + kGoWidth + 6;
    LabelGO->setGeometry(messageLeft, 3, std::max(0, LabelRUN->x() - messageLeft - 6), 18);
}

void TFormDU::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The dump fills the window below the radio buttons.
    MemoH->setGeometry(MemoH->x(), kMemoTop, width() - 2 * MemoH->x(), height() - kMemoTop);
    placeTopRow();
}

}  // namespace mpg::ui
