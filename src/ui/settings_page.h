// The settings page ("настройки"): the job's priority, whether streams are
// walked by the strict MPEG-1 rules, and how the save writes broken blocks. It also holds the
// logo's two pictures, hidden, from which the window's logo takes its looks.
#pragma once

#include <QWidget>

#include "analysis/app_state.h"

class QCheckBox;

namespace mpg::ui {

class TImage;

class SettingsPage : public QWidget {
    Q_OBJECT
  public:
    explicit SettingsPage(AppState& state, QWidget* parent = nullptr);

    void CheckFAClick(QCheckBox* sender);
    // The logo's picture as it is and under the mouse.
    QString logoPicture(bool hovered) const;

  private:
    AppState& state_;
    QCheckBox* CheckHP;
    QCheckBox* CheckST;
    QCheckBox* CheckFA;
    QCheckBox* CheckPR;
    TImage* ImageVLG;
    TImage* ImageVLB;
};

}  // namespace mpg::ui
