#include "ui/widgets.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QFont>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QUrl>

namespace mpg::ui {

namespace {

QString resourceOf(const QString& picture) {
    return QStringLiteral(":/pictures/%1.svg").arg(picture);
}

}  // namespace

QFont windowFont() {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    return f;
}

QFont smallFont() {
    QFont f = windowFont();
    f.setPixelSize(10);
    return f;
}

QFont fixedFont() {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setPixelSize(13);
    return f;
}

TImage::TImage(const QString& name, const QString& picture, QWidget* parent)
    : QWidget(parent), picture_(picture), renderer_(new QSvgRenderer(resourceOf(picture), this)) {
    setObjectName(name);
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
}

TImage::~TImage() = default;

void TImage::setPicture(const QString& picture) {
    picture_ = picture;
    renderer_->load(resourceOf(picture));
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QSizeF size = renderer_->defaultSize();
    size.scale(QSizeF(width(), height()), Qt::KeepAspectRatio);
    const QRectF target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(),
                        size.height());
    renderer_->render(&p, target);
}

void TImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = true;
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = pressed_;
    pressed_ = false;
    if (wasPressed && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit doubleClicked();
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    // Taken here: the panel behind must not see it, or it would hide the
    // hover frame this move just asked for.
    event->accept();
    emit hovered(this);
}

TGauge::TGauge(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
}

void TGauge::setValue(int percent) {
    if (percent == value_) return;
    value_ = percent;
    update();
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(208, 208, 208));
    p.drawEllipse(box);
    const int span = std::clamp(value_, 0, 100) * 360 * 16 / 100;
    p.setBrush(QColor(128, 128, 255));
    p.drawPie(box, 90 * 16, -span);
}

namespace {

class JListDrawItem : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(option.rect, selected ? QColor(192, 255, 176) : QColor(Qt::white));
        painter->setPen(Qt::black);
        painter->setFont(option.font);
        painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 13};
    }
};

}  // namespace

TJList::TJList(const QString& name, QWidget* parent) : QListWidget(parent) {
    setObjectName(name);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setItemDelegate(new JListDrawItem(this));
    setUniformItemSizes(true);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    // A copy as far as the drag is concerned: the list moves the entry
    // itself, and the view must not remove the dragged one afterwards.
    setDefaultDropAction(Qt::CopyAction);
}

void TJList::mousePressEvent(QMouseEvent* event) {
    // The entry dragged is the one pressed: by the time the pointer has
    // crossed the drag threshold it may be over the next row (rows are 13
    // pixels high).
    const QModelIndex under = indexAt(event->position().toPoint());
    pressedRow_ = under.isValid() ? under.row() : -1;
    QListWidget::mousePressEvent(event);
}

void TJList::startDrag(Qt::DropActions supportedActions) {
    emit dragStarted(rowToDrag());
    QListWidget::startDrag(supportedActions & Qt::CopyAction);
}

void TJList::dragEnterEvent(QDragEnterEvent* event) {
    event->acceptProposedAction();
}

void TJList::dragMoveEvent(QDragMoveEvent* event) {
    event->acceptProposedAction();
}

void TJList::dropEvent(QDropEvent* event) {
    if (event->source() == this) {
        const QModelIndex target = indexAt(event->position().toPoint());
        emit dropped(target.isValid() ? target.row() : -1);
    } else if (const QStringList files = droppedFiles(event->mimeData()); !files.isEmpty()) {
        emit filesDropped(files);
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

QStringList droppedFiles(const QMimeData* data) {
    QStringList files;
    if (data == nullptr) return files;
    for (const QUrl& url : data->urls()) {
        // A folder would need a choice of which of its files are pieces, in
        // which order: the user drops the files themselves.
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir())
            files.append(url.toLocalFile());
    }
    return files;
}

QFrame* makeBevel(const QString& name, QWidget* parent, const QRect& geometry) {
    auto* line = new QFrame(parent);
    line->setObjectName(name);
    line->setFrameShape(geometry.width() >= geometry.height() ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Raised);
    line->setGeometry(geometry);
    return line;
}

}  // namespace mpg::ui
