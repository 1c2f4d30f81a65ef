// The main window: three tab pages (repair, joining, settings) and the logo.
// Controls keep fixed positions and sizes; a few of them follow the right
// edge when the window is resized. Every control's object name is its name in
// the design (EditIN, BitBtnGO, StringER...), so that tests and the rest of the
// program can find it.
#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

#include "analysis/error_list.h"
#include "join/join.h"
#include "repair/strategies.h"
#include "repair/writer.h"
#include "analysis/app_state.h"
#include "ui/job_runner.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTabWidget;
class QTableView;

namespace mpg::ui {

class ErrorTableModel;
class TFormDU;
class TFormYesNo;
class TGauge;
class TImage;

inline constexpr const char* kMainCaption = "ремонт файлов в формате MPEG1   ver. 000.21";
// Opened by a click on the logo.
inline constexpr const char* kHomePage = "https://mpgmend.sourceforge.io/";

class TFormMain : public QWidget, public JobWindow {
    Q_OBJECT
  public:
    explicit TFormMain(AppState& state, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The dialog and the dump window are created after the main window.
    void setForms(TFormYesNo* yesNo, TFormDU* dump);

    AppState& state() { return state_; }
    const ErrorGrid& grid() const { return grid_; }
    bool jobRunning() const { return worker_ != nullptr; }

    // Commands of the repair page.
    void BitBtnOPClick();
    void BitBtnGOClick();
    void ImageHAMMERClick();
    void ImageSAClick();
    void ImageFIClick();
    void CheckFAClick(QCheckBox* sender);
    void MIsoerClick();
    void MIzaerClick();
    void MIdumpClick();

    // Commands of the joining page.
    void TabSheetADShow();
    void N2Click();
    void MenuItem1Click();
    void N3Click();
    void JListStartDrag(int index);
    void JListDragDrop(int target);
    void ImageSUMClick();
    void BitBtnSUMClick();
    void CheckMS1Click();
    void CheckGlueClick();
    void ImageZClick();

    // The job runner.
    void threadXXXStart();
    void onJobNotify(Notify kind, int32_t payload) override;
    void onJobDone(int32_t result) override;
    void setCaptionText(const QString& text) override;
    void clearErrorList() override;
    void showMessage(const QString& text) override;

    // The error list's width rule, applied to the grid's current width.
    void dfx();
    // The hover frame of the picture buttons.
    void MakeBevel(TImage* image);
    void HideBevel();
    QFrame* hoverFrame() const { return bevel_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildRepairPage();
    void buildJoinPage();
    void buildSettingsPage();
    void buildLogo();
    void trackMouse(QWidget* widget);

    void TabSheetREMResize();
    void PanelTTResize();
    void PanelBBResize();
    void FormMouseMove();
    void ImageVLMouseMove();
    void ImageVLClick();
    void ImageFIMouseMove(TImage* image);

    int32_t runJob();
    // The job "hammer": the chosen strategy on the job thread, so that the
    // window repaints and can stop it; its end shows the list anew.
    void runHammer();
    void hammerDone();
    // "остановить процесс?"; a yes stops the job that was running when asked.
    void askStop();
    std::string inputPath() const;
    void showExcisionMarker();
    // An open-file dialog (a QFileDialog::FileMode) with the stream filter and
    // `allFiles`, starting in `folder`; remembers the folder and filter.
    QStringList chooseFiles(int mode, const QString& allFiles, QString& folder, int& filter);
    // Puts the design's caption back in place of a message shown there.
    void clearCaptionMessage();
    // The output name proposed from the input field.
    void proposeOutputName();
    // Where a file dialog opens: where it was last, else the input's folder,
    // else the home folder.
    QString dialogFolder(const QString& remembered) const;
    void showErrorRow(int gridRow);
    void refreshErrorList();
    void closeInput();
    void setStatus(const QString& text);

    AppState& state_;
    ErrorGrid grid_;
    std::unique_ptr<WindowSink> sink_;
    std::unique_ptr<TXXXThread> worker_;
    // Counts the jobs started, so that an answer to a stop question that
    // arrives after its job has ended does not reach the next job.
    uint64_t jobGeneration_ = 0;

    TFormYesNo* FormYesNo_ = nullptr;
    TFormDU* FormDU_ = nullptr;

    QTabWidget* PageControl1;
    QWidget* TabSheetREM;
    QWidget* TabSheetAD;
    QWidget* TabSheetCFG;

    QFrame* PanelTT;
    TImage* ImageFI;
    QLineEdit* EditIN;
    QPushButton* BitBtnOP;
    QPushButton* BitBtnGO;
    QFrame* BevelTT;
    TGauge* GaugeZZ;
    QLabel* LabelPTR;
    QLabel* LabelST;
    TImage* ImageEX;

    QTableView* StringER;
    ErrorTableModel* model_;
    QMenu* PopupER;
    QAction* MIdump;
    QAction* MIsoer;
    QAction* MIzaer;

    QFrame* PanelBB;
    QRadioButton* RadioEQ;
    QRadioButton* RadioRERE;
    QRadioButton* RadioISALL;
    QCheckBox* CheckDP;
    QCheckBox* CheckZR;
    QLabel* LabelMS;
    QLineEdit* EditMS;
    TImage* ImageWA;
    TImage* ImageHAMMER;
    QFrame* BevelBB;
    QLineEdit* EditOUT;
    TImage* ImageSA;

    QSplitter* Splitter3;
    QListWidget* JList;
    QMenu* PopupJO;
    QWidget* PanelSR;
    int panelSRWidth_ = 338;  // as the user last dragged the splitter
    QLabel* LabelJINFO;
    TImage* ImageSUM;
    QLineEdit* EditSUM;
    QCheckBox* CheckMS1;
    QLabel* LabelMS1;
    QCheckBox* Check1PP;
    QCheckBox* Check1SH;
    QLabel* Label1SH;
    QCheckBox* CheckGlue;
    QPushButton* BitBtnSUM;
    TGauge* GaugeZ;
    TImage* ImageZ;
    QLabel* LabelME;

    QCheckBox* CheckHP;
    QCheckBox* CheckFA;
    QCheckBox* CheckPR;
    TImage* ImageVLG;
    TImage* ImageVLB;

    QWidget* PanelVL;
    TImage* ImageVL;
    // "vl" while the mouse is on the logo, empty otherwise.
    QString logoHint_;

    QFrame* bevel_ = nullptr;

    // The input dialog's last folder and filter.
    QString lastOpenDir_;
    int lastFilterIndex_ = 0;
    // Why the last scan ended early (a failed read, a changed input); set by
    // the job, read when it has ended.
    Failure scanFailure_;
    // What the job "save" writes, taken when it starts.
    SaveParams saveParams_;
    // What the job "hammer" applies, taken when it starts, and the copy of
    // the list it walks (the list on screen keeps showing grid_ meanwhile).
    enum class Strategy { EqDelta, Rescan, Sizes };
    Strategy hammerStrategy_ = Strategy::EqDelta;
    RepairOptions hammerOptions_;
    ErrorGrid hammerGrid_;
    std::string hammerInput_;
    // What the job "join" joins, taken when it starts, and how.
    JoinParams joinParams_;
    bool glue_ = false;
    // The join reported a text of its own (an input it could not open),
    // which its failure must not cover.
    bool joinMessageShown_ = false;
    // The list entry a drag started on, -1 for none; the add dialog's last
    // folder and filter.
    int dragIndex_ = -1;
    QString addDialogDir_;
    int addDialogFilter_ = 0;

    // The list on screen follows the grid at most every 30 ms while a scan
    // reports broken blocks; shownRow_ is the grid row to make current then.
    QTimer listRefresh_;
    int shownRow_ = -1;
};

}  // namespace mpg::ui
