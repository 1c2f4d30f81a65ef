#include "ui/form_du.h"

#include <QGuiApplication>
#include <QScreen>

namespace mpg::ui {

TFormDU::TFormDU(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FormDU"));
    setWindowTitle(QStringLiteral("dump"));
    resize(450, 256);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move((s.width() - width()) / 2, (s.height() - height()) / 2);
    }
}

}  // namespace mpg::ui
