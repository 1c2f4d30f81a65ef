// Small controls of the windows: pictures used as buttons, the pie gauge and
// the bevel lines. Pictures come from SVG resources (":/pictures/NAME.svg")
// and are drawn at whatever size the control has.
#pragma once

#include <QFrame>
#include <QString>
#include <QWidget>

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

// A raised line or box: horizontal when wider than high.
QFrame* makeBevel(const QString& name, QWidget* parent, const QRect& geometry);

}  // namespace mpg::ui
