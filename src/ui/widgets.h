// Small controls of the windows: pictures used as buttons, the pie gauge and
// the bevel lines. Pictures come from SVG resources (":/pictures/NAME.svg")
// and are drawn at whatever size the control has.
#pragma once

#include <QFrame>
#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QWidget>

class QMimeData;
class QSvgRenderer;

namespace mpg::ui {

// The program's fonts: a sans face for the windows (8 point), a smaller one
// for the buttons' captions (7 point), and a fixed-pitch one for the dump.
QFont windowFont();
QFont smallFont();
QFont fixedFont();

// A transparent picture; clicking it is a command, moving the mouse over it
// reports `hovered` (the main window draws its hover frame then).
class TImage : public QWidget {
    Q_OBJECT
  public:
    TImage(const QString& name, const QString& picture, QWidget* parent);
    ~TImage() override;

    // Replaces the picture by another resource name ("folder", "skull-red"...).
    void setPicture(const QString& picture);
    const QString& picture() const { return picture_; }

  signals:
    void clicked();
    void doubleClicked();
    void hovered(mpg::ui::TImage* self);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    QString picture_;
    QSvgRenderer* renderer_;
    bool pressed_ = false;
};

// A pie-shaped progress gauge from 0 to 100, without text or border.
class TGauge : public QWidget {
    Q_OBJECT
  public:
    TGauge(const QString& name, QWidget* parent);
    int value() const { return value_; }
    void setValue(int percent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int value_ = 0;
};

// The files a drag from a file manager carries, in the drag's order: local
// files only, folders left out.
QStringList droppedFiles(const QMimeData* data);

// The join list: one entry per line, 13 pixels high, drawn plainly (light
// green when selected, black text at the corner); an entry dragged onto
// another is reported as (start row, drop row), -1 where no entry was, and
// files dropped on it from elsewhere as their names, in the drag's order.
class TJList : public QListWidget {
    Q_OBJECT
  public:
    TJList(const QString& name, QWidget* parent = nullptr);
    // The entry a drag takes: the one under the last press, -1 for none.
    int rowToDrag() const { return pressedRow_; }

  signals:
    void dragStarted(int row);
    void dropped(int row);
    void filesDropped(const QStringList& files);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    int pressedRow_ = -1;
};

// A raised line or box: horizontal when wider than high.
QFrame* makeBevel(const QString& name, QWidget* parent, const QRect& geometry);

}  // namespace mpg::ui
