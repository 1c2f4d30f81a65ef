#include "ui/form_du.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>

#include "analysis/dump.h"
#include "text/messages.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

constexpr int kMemoTop = 24;

}  // namespace

TFormDU::TFormDU(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FormDU"));
    setWindowTitle(tr("dump"));
    resize(450, 256);
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
    Radio16Click();
}

void TFormDU::Radio16Click() {
    QString all;
    for (const std::string& line : dumpLines(dump_, bytesPerLine())) {
        if (!all.isEmpty()) all += QLatin1Char('\n');
        all += QString::fromStdString(line);
    }
    MemoH->setPlainText(all);
}

void TFormDU::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The dump fills the window below the radio buttons.
    MemoH->setGeometry(MemoH->x(), kMemoTop, width() - 2 * MemoH->x(), height() - kMemoTop);
}

}  // namespace mpg::ui
