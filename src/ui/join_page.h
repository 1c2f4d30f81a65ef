// The joining page ("сборка"): the list of pieces on the left, what to make
// of them on the right. The join runs as a job of the window's controller.
#pragma once

#include <QWidget>
#include <functional>

#include "session/repair_session.h"
#include "ui/job_controller.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QSplitter;

namespace mpg::ui {

class TFormYesNo;
class TGauge;
class TImage;

class JoinPage : public QWidget {
    Q_OBJECT
  public:
    // The join's steps run through `session`, the repair page's: its stop
    // request is the window's, and the check leaves its table alone.
    JoinPage(RepairSession& session, JobController& jobs, QWidget* parent = nullptr);

    void setForms(TFormYesNo* yesNo) { FormYesNo_ = yesNo; }
    // Where the add dialog opens when it has not been used yet: the folder
    // of the text this gives (the repair page's input).
    void setNearFolder(std::function<QString()> near) { near_ = std::move(near); }
    // Opens a file on the repair page and shows that page, as a file dropped
    // on the window does: the pre-check's "repair first".
    void setRepairOpener(std::function<void(const QString&)> open) {
        openForRepair_ = std::move(open);
    }
    QList<TImage*> framedPictures() const;
    QList<QWidget*> mouseAreas() const;
    // Adds files to the end of the list, in the order given.
    void addFiles(const QStringList& files);

    void clearJoinMessages();
    void clearList();
    void addFilesFromDialog();
    void removeSelectedFiles();
    void rememberDragStart(int index);
    void moveDraggedFile(int target);
    void proposeJoinedName();
    void joinListedFiles();
    void chooseStructuredJoin();
    void chooseGlue();
    void askToStopJoin();

  protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildOptions(QWidget* panel);
    void showMessage(const QString& text);
    void showProgress(int percent, const QString& text);
    void jobFinished(Job job, const JobResult& result);
    // The join of joinParams_, structured or glued as glue_ says.
    void startJoin();
    // The scan of every piece before a structured join; its end decides.
    void startCheck();
    // After the check: whether the join was started.
    bool checkDone(const PieceCheckResult& checked);
    // What the user makes of pieces with broken blocks.
    enum class Unsound { RepairFirst, JoinAnyway, Cancel };
    Unsound askAboutUnsound(const std::vector<PieceCheck>& unsound);

    RepairSession& session_;
    JobController& jobs_;
    TFormYesNo* FormYesNo_ = nullptr;
    std::function<QString()> near_;
    std::function<void(const QString&)> openForRepair_;

    QSplitter* Splitter3;
    QListWidget* JList;
    QMenu* PopupJO;
    QWidget* PanelSR;
    int panelSRWidth_;  // as the user last dragged the splitter
    QLabel* LabelJINFO;
    TImage* ImageSUM;
    QLineEdit* EditSUM;
    QCheckBox* CheckMS1;
    QLabel* LabelMS1;
    QCheckBox* Check1PP;
    QCheckBox* CheckCont;
    QCheckBox* CheckPre;
    // The pre-check box as the user left it before the glue took it away.
    bool preChosen_ = true;
    QCheckBox* Check1SH;
    QLabel* Label1SH;
    QCheckBox* CheckGlue;
    QPushButton* BitBtnSUM;
    TGauge* GaugeZ;
    TImage* ImageZ;
    QLabel* LabelME;

    // What the join joins, taken when it starts, and how.
    JoinRequest request_;
    // The join reported a text of its own (an input it could not open),
    // which its failure must not cover.
    bool joinMessageShown_ = false;
    // The list entry a drag started on, -1 for none; the add dialog's last
    // folder and filter.
    int dragIndex_ = -1;
    QString addDialogDir_;
    int addDialogFilter_ = 0;
};

}  // namespace mpg::ui
