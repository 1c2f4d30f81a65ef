// The repair page ("ремонт"): the input and its scan at the top, the list of
// broken blocks, the strategies and the output at the bottom. Its commands
// start their jobs through the window's JobController and show what the jobs
// report; the list shows the page's own ErrorGrid, which only the window's
// thread writes, from the values the scan reports.
#pragma once

#include <QWidget>
#include <optional>

#include "analysis/app_state.h"
#include "analysis/dump.h"
#include "analysis/error_list.h"
#include "repair/strategies.h"
#include "repair/verify.h"
#include "repair/writer.h"
#include "ui/job_controller.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTableView;

namespace mpg::ui {

class ErrorRowsShown;
class ErrorTableModel;
class SectorTableModel;
class TFormDU;
class TFormYesNo;
class TGauge;
class TImage;

class RepairPage : public QWidget {
    Q_OBJECT
  public:
    RepairPage(AppState& state, JobController& jobs, QWidget* parent = nullptr);

    void setForms(TFormYesNo* yesNo, TFormDU* dump);
    const ErrorGrid& grid() const { return grid_; }
    // The pictures that get the window's hover frame, and the areas where a
    // mouse move takes it away.
    QList<TImage*> framedPictures() const;
    QList<QWidget*> mouseAreas() const;
    QString inputText() const;
    // The input field set to `path` and opened as the open button does
    // (nothing while a job runs).
    void openFile(const QString& path);

    void BitBtnOPClick();
    void BitBtnGOClick();
    void ImageHAMMERClick();
    void ImageSAClick();
    void BitBtnVERIFYClick();
    void ImageFIClick();
    void MIsoerClick();
    void MIzaerClick();
    void MIdumpClick();
    // The selection moves to the next (or previous) row, in the order shown,
    // whose block is still listed broken; nothing moves past the last.
    void MInextClick();
    void MIprevClick();

    // The page's fixed texts that are no control's own (the placeholders of
    // the input field and the filter), shown anew in the current language.
    void retranslate();

    // The error list's width rule, applied to the grid's current width.
    void dfx();

  protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildTop();
    void buildList();
    void buildBottom();
    void buildFilter();
    void buildSectorList();
    void PanelTTResize();
    // The blocks' list and, below it when shown, the faulty sectors' list
    // between the filter row and the bottom panel.
    void placeLists();
    void PanelBBResize();

    void showProgress(int percent, const QString& text);
    void takeRows(const std::vector<Notice>& notices);
    void clearErrorList();
    // The faulty sectors list shows `rows`; it hides when there are none.
    void showSectors(std::vector<SectorFaultRow> rows);
    // The dump of the block that holds the sector's first stream byte, at
    // that byte.
    void dumpSector(const QModelIndex& index);
    // The dump window shows the block's bytes, the one at stream position
    // `at` selected when given.
    void showDump(const BlockDump& bytes, std::optional<Position> at = std::nullopt);
    // The filter field's text applied to the list; the count line follows.
    void applyFilter();
    void showCount();
    // The grid row of the list's current row; -1 for none.
    int currentGridRow() const;
    void selectShownRow(int shownRow);
    void moveToBroken(int step);
    void jobFinished(Job job, int32_t result);
    void scanDone();
    void hammerDone();
    // A job that reads a whole file starts: "стоп" on the scan's button, its
    // text in the status line, its progress in the gauge.
    void showFileJob(const QString& status);
    void saveDone();
    void verifyDone();
    // The chosen strategy, on the job's thread.
    void runHammer(JobSink& sink);
    // The list after an automatic repair: a row for every block it reported
    // on and for every block still listed broken, the action column filled.
    void listRepairs();
    // The list shows the table's broken blocks again, its action column empty.
    void unlistRepairs();
    // The table is made anew (an open, a fresh scan, an index load): the
    // reports of the repairs on the old one are forgotten.
    void forgetRepairs();

    std::string inputPath() const;
    void setStatus(const QString& text);
    void proposeOutputName();
    // Whether the save re-wraps the repaired stream as a .dat.
    bool wrapsDat() const;
    void showExcisionMarker();
    void restoreCaption();
    bool busy() const { return jobs_.running(); }

    AppState& state_;
    JobController& jobs_;
    ErrorGrid grid_;
    TFormYesNo* FormYesNo_ = nullptr;
    TFormDU* FormDU_ = nullptr;

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
    ErrorRowsShown* shown_;
    QLineEdit* EditFILTER;
    QLabel* LabelSHOWN;
    // The filter field's last word not understood; empty when all were.
    QString badFilterWord_;
    // The faulty sectors of a video CD rip, below the blocks; hidden for a
    // plain stream and for a rip whose sectors are all sound.
    QTableView* StringSE;
    SectorTableModel* sectors_;
    QMenu* PopupER;
    QAction* MIdump;
    QAction* MIsoer;
    QAction* MIzaer;
    QAction* MInext;
    QAction* MIprev;

    QFrame* PanelBB;
    QRadioButton* RadioEQ;
    QRadioButton* RadioRERE;
    QRadioButton* RadioISALL;
    QRadioButton* RadioAUTO;
    QCheckBox* CheckDP;
    QCheckBox* CheckZR;
    QCheckBox* CheckWrapDat;
    QLineEdit* EditMS;
    TImage* ImageWA;
    TImage* ImageHAMMER;
    QFrame* BevelBB;
    QLineEdit* EditOUT;
    QPushButton* BitBtnVERIFY;
    TImage* ImageSA;

    // The input dialog's last folder and filter.
    QString lastOpenDir_;
    int lastFilterIndex_ = 0;
    // Why the last scan ended early (a failed read, a changed input); set by
    // the job, read when it has ended.
    Failure scanFailure_;
    // Whether the file the last scan read is a video CD rip: its status
    // then counts the faulty sectors.
    bool scanOfRip_ = false;
    // What the save writes, taken when it starts.
    SaveParams saveParams_;
    // What the hammer applies, taken when it starts, and the blocks the list
    // named then (the list on screen keeps showing grid_ meanwhile).
    Strategy hammerStrategy_ = Strategy::RemoveRunsEqualToDelta;
    RepairOptions hammerOptions_;
    std::vector<size_t> hammerListed_;
    std::string hammerInput_;
    // What the strategy reported: written by the job, read once it has ended.
    StrategyOutcome hammerOutcome_;

    // The automatic repairs' reports on the table as it stands, merged in
    // ascending index order (a later run's entry replaces an earlier one's):
    // the action column shows them while the list holds a run's rows, and a
    // verification names the blocks they padded or gave a new length.
    std::vector<BlockRepair> repairs_;
    bool repairsListed_ = false;
    // A typical action's width in the list, the action column's wish.
    int actionWidth_ = 0;

    // What the writer did beyond copying, as the reports tell it: counted
    // when a save starts, kept for the verification of its output.
    struct WrittenRepairs {
        std::string output;
        bool automatic = false;  // an automatic repair reported on the table
        size_t lengthFromFile = 0;
        size_t padded = 0;
        size_t unresolved = 0;  // still listed broken: the fallback wrote them
    };
    WrittenRepairs saving_;
    WrittenRepairs saved_;
    // The verification's scan goes into a state of its own: the table and
    // cut list of the repair stay as they are, for another save.
    AppState checkState_;
    OutputCheck outputCheck_;
};

}  // namespace mpg::ui
