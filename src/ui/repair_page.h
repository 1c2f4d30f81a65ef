// The repair page ("ремонт"): the input and its scan at the top, the list of
// broken blocks, the strategies and the output at the bottom. Its commands
// run the repair session's steps as jobs of the window's JobController and
// show the results those deliver; the list shows the page's own ErrorGrid,
// which only the window's thread writes, from the values the scan reports.
#pragma once

#include <QWidget>
#include <optional>

#include "analysis/dump.h"
#include "analysis/error_list.h"
#include "analysis/row_filter.h"
#include "session/repair_session.h"
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
    RepairPage(RepairSession& session, JobController& jobs, QWidget* parent = nullptr);

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

    // What the page's controls do (BitBtnOP, BitBtnGO, ImageHAMMER, ImageSA,
    // BitBtnVERIFY, ImageFI and the list's menu).
    void openInput();
    void startOrStopScan();
    void applyChosenRepair();
    void saveRepairedFile();
    void checkSavedFile();
    void chooseInputFile();
    void saveErrorIndex();
    void loadErrorIndex();
    void dumpCurrentBlock();
    // The selection moves to the next (or previous) row, in the order shown,
    // whose block is still listed broken; nothing moves past the last.
    void selectNextBroken();
    void selectPreviousBroken();

    // The page's fixed texts that are no control's own (the placeholders of
    // the input field and the filter), shown anew in the current language.
    void retranslate();

    // The error list's width rule, applied to the grid's current width.
    void fitListColumns();

  protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // The controls, made once (repair_page_view.cpp).
    void buildTop();
    void buildList();
    void buildBottom();
    void buildFilter();
    void buildSectorList();
    void placeTopControls();
    // The blocks' list and, below it when shown, the faulty sectors' list
    // between the filter row and the bottom panel.
    void placeLists();
    void placeBottomControls();

    void showProgress(int percent, const QString& text);
    void takeRows(const std::vector<Notice>& notices);
    void clearErrorList();
    // The faulty sectors list shows `rows`; it hides when there are none.
    void showSectors(SectorFaultList rows);
    // The dump of the block that holds the sector's first stream byte, at
    // that byte.
    void dumpSector(const QModelIndex& index);
    // The dump window shows the block's bytes, the one at stream position
    // `at` selected when given.
    void showDump(BlockDump bytes, std::optional<Position> at = std::nullopt);
    void dumpEntry(size_t index, std::optional<Position> at = std::nullopt);
    // The filter field's text applied to the list; the count line follows.
    void applyFilter();
    void showCount();
    // The grid row of the list's current row; -1 for none.
    int currentGridRow() const;
    void selectShownRow(int shownRow);
    void moveToBroken(int step);

    // "продолжить проверку или начать сначала?": true to continue.
    bool askToResume();
    // Starts the scan of the file named, fresh or going on from the table's
    // end; a file that cannot be opened is refused before the job starts.
    void startScan(bool resume);
    // The bytes of a table entry for the dump; a file that cannot be opened
    // or read is said on the status line.
    bool readDump(size_t entry, BlockDump& bytes);
    void jobFinished(Job job, const JobResult& result);
    void showScanResult(const ScanResult& result);
    void showRepairResult(const ApplyResult& result);
    void showSaveResult(const WriteResult& result);
    void showCheckResult(const VerifyResult& result);
    // A job that reads a whole file starts: "стоп" on the scan's button, its
    // text in the status line, its progress in the gauge.
    void showFileJob(const QString& status);
    // The list after an automatic repair: a row for every block it reported
    // on and for every block still listed broken, the action column filled.
    void listWithRepairs();
    // The list shows the table's broken blocks again, its action column empty.
    void listBrokenBlocks();
    // The findings of the checks of the content as rows behind the blocks'.
    void listFindings();
    // The grid's rows at the positions the session shows (the input file's).
    void showRowsAt();
    // The items that follow the session: saving the errors while the table
    // is a scan's, checking the result while one was saved (named in its
    // tool tip).
    void followSession();

    std::string inputPath() const;
    void setStatus(const QString& text);
    void proposeOutputName();
    // Whether the save re-wraps the repaired stream as a .dat.
    bool wrapsDat() const;
    Strategy chosenStrategy() const;
    void showExcisionMarker();
    void restoreCaption();
    bool busy() const { return jobs_.running(); }

    RepairSession& session_;
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
    FilterFault badFilterFault_ = FilterFault::NotUnderstood;
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
    QCheckBox* CheckDecode;
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
    // What the hammer applies, taken when it starts.
    Strategy hammerStrategy_ = Strategy::RemoveRunsEqualToDelta;
    // Whether the list holds an automatic repair's rows, and its accounts
    // that the action column shows.
    bool repairsListed_ = false;
    RepairLog listedRepairs_;
    // A typical action's width in the list, the action column's wish.
    int actionWidth_ = 0;
};

}  // namespace mpg::ui
