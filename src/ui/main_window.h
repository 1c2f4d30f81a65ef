// The main window: a shell around three pages of their own (repair, joining,
// settings), the logo in the top right corner, the hover frame of the
// picture buttons, and the JobController that runs the pages' jobs. Every
// control keeps its object name from the design (EditIN, BitBtnGO,
// StringER...), so that tests and the rest of the program can find it.
#pragma once

#include <QWidget>

#include "analysis/app_state.h"
#include "analysis/error_list.h"
#include "ui/job_controller.h"

class QFrame;
class QTabWidget;

namespace mpg::ui {

class JoinPage;
class RepairPage;
class SettingsPage;
class TFormDU;
class TFormYesNo;
class TImage;

// Opened by a click on the logo.
inline constexpr const char* kHomePage = "https://mpgmend.sourceforge.io/";

class TFormMain : public QWidget {
    Q_OBJECT
  public:
    explicit TFormMain(AppState& state, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The dialog and the dump window are created after the main window.
    void setForms(TFormYesNo* yesNo, TFormDU* dump);

    AppState& state() { return state_; }
    JobController& jobs() { return jobs_; }
    bool jobRunning() const { return jobs_.running(); }
    const ErrorGrid& grid() const;
    RepairPage* repairPage() const { return TabSheetREM; }
    JoinPage* joinPage() const { return TabSheetAD; }
    SettingsPage* settingsPage() const { return TabSheetCFG; }

    // The hover frame of the picture buttons.
    void frameHoveredPicture(TImage* image);
    void hideHoverFrame();
    QFrame* hoverFrame() const { return bevel_; }

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Files dropped on the window: on the joining page they join its list;
    // elsewhere the first opens on the repair page, as `mpgmend FILE` does,
    // unless a job runs.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildLogo();
    void leaveHoveredPicture();
    void highlightLogo();
    void openHomePage();
    void jobFinished();
    // Shows the repair page with `path` opened on it.
    void openOnRepairPage(const QString& path);
    bool takesDrop() const;

    AppState& state_;
    // The repair page's workflow, on the window's state.
    RepairSession session_{state_};
    JobController jobs_;

    QTabWidget* PageControl1;
    RepairPage* TabSheetREM;
    JoinPage* TabSheetAD;
    SettingsPage* TabSheetCFG;
    QWidget* PanelVL;
    TImage* ImageVL;
    bool logoHovered_ = false;
    QFrame* bevel_ = nullptr;
};

}  // namespace mpg::ui
