// The settings page ("настройки"): the job's priority, whether streams are
// walked by the strict MPEG-1 rules, how the save writes broken blocks, and
// the language of the windows. It also holds the logo's two pictures, hidden,
// from which the window's logo takes its looks.
#pragma once

#include <QWidget>

#include "analysis/app_state.h"

class QCheckBox;
class QComboBox;

namespace mpg::ui {

class TImage;

class SettingsPage : public QWidget {
    Q_OBJECT
  public:
    explicit SettingsPage(AppState& state, QWidget* parent = nullptr);

    void chooseBrokenBlockWrite(QCheckBox* sender);
    // The logo's picture as it is and under the mouse.
    QString logoPicture(bool hovered) const;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    // The language choice's items, in the language now spoken.
    void fillLanguages();

    AppState& state_;
    QCheckBox* CheckHP;
    QCheckBox* CheckST;
    QCheckBox* CheckFA;
    QCheckBox* CheckPR;
    QComboBox* ComboLang;
    TImage* ImageVLG;
    TImage* ImageVLB;
};

}  // namespace mpg::ui
