#include "ui/repair_page.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "analysis/scan.h"
#include "repair/index_file.h"
#include "repair/naming.h"
#include "stream/cdxa.h"
#include "text/messages.h"
#include "ui/error_table.h"
#include "ui/form_yes_no.h"
#include "ui/page_kit.h"
#include "ui/repair_page_layout.h"
#include "ui/sector_table.h"
#include "ui/widgets.h"

namespace mpg::ui {

namespace {

// The strategies' row texts reach LabelPTR the way the scan's progress does:
// through the job's sink, at most a few times a second.
class SinkProgress : public RepairProgress {
  public:
    explicit SinkProgress(JobSink& sink) : sink_(sink) {}
    bool due() override { return sink_.progressDue(); }
    void step(size_t row, size_t rows) override { show(row, rows); }
    void finished() override { show(0, 0); }

  private:
    void show(size_t row, size_t rows) { sink_.notify({Notify::RowProgress, 0, row, rows, {}}); }

    JobSink& sink_;
};

QString fileNameOf(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName();
}

}  // namespace

RepairPage::RepairPage(RepairSession& session, JobController& jobs, QWidget* parent)
    : QWidget(parent), session_(session), state_(session.state()), jobs_(jobs) {
    setObjectName(QStringLiteral("TabSheetREM"));
    buildTop();
    buildList();
    buildBottom();
    buildFilter();
    buildSectorList();
    retranslate();
    connect(&jobs_, &JobController::progress, this, &RepairPage::showProgress);
    connect(&jobs_, &JobController::rowsReported, this, &RepairPage::takeRows);
    connect(&jobs_, &JobController::listCleared, this, &RepairPage::clearErrorList);
    connect(&jobs_, &JobController::finished, this, &RepairPage::jobFinished);
}

void RepairPage::setForms(TFormYesNo* yesNo, TFormDU* dump) {
    FormYesNo_ = yesNo;
    FormDU_ = dump;
}

void RepairPage::followSession() {
    MIsoer->setEnabled(session_.hasFindings());
    const std::string& saved = session_.lastSaved().output;
    BitBtnVERIFY->setEnabled(!saved.empty());
    BitBtnVERIFY->setToolTip(saved.empty() ? tr(repair_layout::BitBtnVERIFYHint)
                                           : tr("проверить %1").arg(fileNameOf(saved)));
}

// --- open, check and scan ----------------------------------------------------

void RepairPage::chooseInputFile() {
    if (busy()) return;
    const QStringList chosen =
        chooseFiles(this, QFileDialog::ExistingFile, QStringLiteral("*.* (*)"), EditIN->text(),
                    lastOpenDir_, lastFilterIndex_);
    if (!chosen.isEmpty()) EditIN->setText(chosen.first());
    // Also after a cancelled dialog: the proposal follows the input field.
    proposeOutputName();
}

void RepairPage::openFile(const QString& path) {
    if (busy()) return;
    EditIN->setText(path);
    openInput();
}

void RepairPage::openInput() {
    if (busy()) return;
    const OpenResult result = session_.open({inputPath()});
    const QString text = QString::fromStdString(checkStatusText(result.check, result.failure));
    if (!result.opened()) {
        setStatus(text);
        return;
    }
    // The file could be opened: the table, the cut list and the list start anew.
    ImageEX->hide();
    listBrokenBlocks();
    showSectors({});
    followSession();
    if (result.check == CheckResult::Ok) restoreCaption();
    // The sound rules name the kind of stream; the strict walk knows one.
    if (result.check == CheckResult::Ok && state_.codes.rules() == StreamRules::Sound) {
        setStatus(text + QStringLiteral(": ") +
                  QString::fromStdString(streamKindText(state_.kind)));
        return;
    }
    setStatus(text);
}

void RepairPage::startOrStopScan() {
    if (EditIN->text().isEmpty()) {
        setStatus(QString::fromStdString(messageText(Message::NeedFileName)));
        return;
    }
    if (BitBtnGO->text() == tr("стоп")) {
        askStop(jobs_, FormYesNo_, window());
        return;
    }
    if (busy()) return;  // a join runs
    startScan(session_.canResume() && askToResume());
}

void RepairPage::startScan(bool resume) {
    // A file that cannot be opened is refused before any job starts.
    if (const Failure failure = session_.openForScan(inputPath())) {
        setStatus(QString::fromStdString(failureText(failure)));
        return;
    }
    const ScanParams params{inputPath(), resume};
    BitBtnGO->setText(tr("стоп"));
    ImageEX->hide();
    // A resumed scan adds its rows to the table's broken blocks; a fresh
    // one makes the list anew as it goes.
    if (params.resume) {
        listBrokenBlocks();
        // The scan's last block is examined afresh: its row must be the last.
        grid_.showFindings({});
        model_->sync();
    } else {
        repairsListed_ = false;
        model_->showRepairs(nullptr);
        showSectors({});
    }
    MIsoer->setEnabled(false);
    restoreCaption();
    setStatus(tr("идёт проверка потока"));
    GaugeZZ->setValue(0);
    GaugeZZ->show();
    LabelPTR->show();
    jobs_.start(Job::Scan, [this, params](JobSink& sink) { return session_.scan(params, sink); });
}

bool RepairPage::askToResume() {
    return FormYesNo_ != nullptr &&
           FormYesNo_->AskYesNoCaptions(tr("продолжить проверку\r\nили начать сначала?"),
                                        tr("продолжить"), tr("сначала"), QLatin1Char('n'),
                                        window());
}

// --- what the jobs deliver ---------------------------------------------------

void RepairPage::jobFinished(Job, const JobResult& result) {
    if (const auto* scan = std::get_if<ScanResult>(&result)) showScanResult(*scan);
    if (const auto* apply = std::get_if<ApplyResult>(&result)) showRepairResult(*apply);
    if (const auto* save = std::get_if<WriteResult>(&result)) showSaveResult(*save);
    if (const auto* check = std::get_if<VerifyResult>(&result)) showCheckResult(*check);
    if (const auto* failed = std::get_if<Failure>(&result)) {
        setStatus(QString::fromStdString(failureText(*failed)));
    }
    BitBtnGO->setText(tr("го"));
    GaugeZZ->hide();
    LabelPTR->hide();
    followSession();
}

void RepairPage::showScanResult(const ScanResult& result) {
    const Failure& failure = result.failure;
    uint64_t blocks = result.blocks, broken = result.broken;
    if (failure && result.walked) {
        dropUnfinishedBlock(state_.table, grid_);
        model_->sync();
        blocks = state_.table.size();
        broken = countListed(state_.table);
    }
    // The sector walk's rows, a resumed scan's those it kept; the job has
    // ended, so the copy is the window's own.
    showSectors(state_.sectorFaults);
    listFindings();
    model_->sync();
    if (failure && failure.kind != FailureKind::Stopped) {
        setStatus(QString::fromStdString(failureText(failure)));
    } else if (failure) {
        setStatus(QString::fromStdString(result.rip
                                             ? scanStoppedText(blocks, broken, result.sectors)
                                             : scanStoppedText(blocks, broken)));
    } else {
        // The strict walk names no streams.
        const StreamCodes* codes =
            state_.codes.rules() == StreamRules::Sound ? &state_.codes : nullptr;
        std::string done = result.rip ? scanDoneText(blocks, broken, result.sectors, codes)
                                      : scanDoneText(blocks, broken, codes);
        // What the checks of the content found beside the blocks, by kind.
        if (const std::string found = findingCountsText(state_.findings.countByKind());
            !found.empty()) {
            done += "; " + found;
        }
        setStatus(QString::fromStdString(done));
    }
}

// --- repair and save ------------------------------------------------------------

Strategy RepairPage::chosenStrategy() const {
    return RadioEQ->isChecked()      ? Strategy::RemoveRunsEqualToDelta
           : RadioRERE->isChecked()  ? Strategy::RemoveRunsAndRemeasure
           : RadioISALL->isChecked() ? Strategy::AcceptRealSizes
                                     : Strategy::Automatic;
}

void RepairPage::applyChosenRepair() {
    if (busy()) return;
    ApplyParams params;
    params.strategy = hammerStrategy_ = chosenStrategy();
    params.options = {CheckZR->isChecked(), CheckDP->isChecked(), 100};
    if (params.strategy == Strategy::RemoveRunsAndRemeasure) {
        // A least length that is no whole number is shown, and taken, as 100.
        const auto minRepeat = parseMinRepeat(EditMS->text().toStdString());
        if (!minRepeat) EditMS->setText(QString::fromLatin1(kDefaultMinRepeat));
        params.options.minRepeat = minRepeat.value_or(100);
    }
    // The blocks the list names; the list of an automatic repair also shows
    // the blocks it made sound, and the hammer takes only those still broken.
    params.listed = grid_.listedEntries(state_.table);
    std::erase_if(params.listed,
                  [this](size_t i) { return state_.table[i].broken != kBrokenListed; });
    params.allListed = false;
    MIsoer->setEnabled(false);
    LabelPTR->show();
    ImageWA->show();
    BitBtnGO->setText(tr("стоп"));
    jobs_.start(Job::Hammer, [this, params](JobSink& sink) {
        SinkProgress progress(sink);
        return session_.apply(params, progress);
    });
}

void RepairPage::showRepairResult(const ApplyResult& result) {
    // A stopped strategy's counts are those of the rows before the stop.
    const QString summary =
        QString::fromStdString(strategySummaryText(hammerStrategy_, result.outcome));
    // An input that failed a read or changed since the scan is said alone.
    if (result.failure && result.failure.kind != FailureKind::Stopped) {
        setStatus(QString::fromStdString(failureText(result.failure)));
    } else {
        setStatus(result.failure ? tr("прервано пользователем") + QStringLiteral(": ") + summary
                                 : summary);
    }
    state_.view.resetCache();
    if (hammerStrategy_ == Strategy::Automatic) {
        listWithRepairs();
    } else {
        listBrokenBlocks();
    }
    showExcisionMarker();
    ImageWA->hide();
}

void RepairPage::showRowsAt() {
    grid_.mapOffsets([this](Position offset) { return session_.shownPosition(offset); });
}

void RepairPage::listFindings() {
    FindingList sorted = state_.findings;
    sorted.sortByPosition();
    grid_.showFindings(sorted.items());
}

void RepairPage::listWithRepairs() {
    grid_.rebuildFromEntries(state_.table, entriesWithRepairs(state_.table, session_.repairs()));
    listFindings();
    showRowsAt();
    repairsListed_ = true;
    // A copy: the next repair's job changes the session's accounts while
    // the list still shows these.
    listedRepairs_ = session_.repairs();
    model_->showRepairs(&listedRepairs_);
    model_->sync();
    fitListColumns();
}

void RepairPage::listBrokenBlocks() {
    grid_.rebuildFromTable(state_.table);
    listFindings();
    showRowsAt();
    repairsListed_ = false;
    model_->showRepairs(nullptr);
    model_->sync();
    fitListColumns();
}

void RepairPage::saveRepairedFile() {
    if (busy() || state_.table.empty() || state_.view.isOpen()) return;
    // A table that ends where a scan was stopped is no whole stream: the
    // scan goes on from there instead, and the save is asked for again.
    if (!session_.scannedWhole() && session_.canResume()) {
        startScan(true);
        return;
    }
    const QString output = EditOUT->text();
    const bool replaces = replacesAFile(output);
    if (replaces && FormYesNo_ != nullptr &&
        !FormYesNo_->AskYesNo(tr("файл уже существует. перезаписать?"), window())) {
        return;
    }
    restoreCaption();
    const WriteParams params{output.toStdString(), wrapsDat(),
                             replaces ? Existing::Replace : Existing::Keep};
    showFileJob(tr("идёт сохранение"));
    jobs_.start(Job::Save, [this, params](JobSink& sink) { return session_.save(params, sink); });
}

void RepairPage::showFileJob(const QString& status) {
    BitBtnGO->setText(tr("стоп"));
    setStatus(status);
    LabelPTR->show();
    GaugeZZ->setValue(0);
    GaugeZZ->show();
}

void RepairPage::showSaveResult(const WriteResult& result) {
    QString text = withDetail(saveResultText(result.failure), result.failure);
    const std::string junk = result.failure ? "" : junkLeftOutText(state_.findings);
    if (!junk.empty()) text += QStringLiteral("; ") + QString::fromStdString(junk);
    setStatus(text);
}

// --- verification of the saved file ----------------------------------------------

void RepairPage::checkSavedFile() {
    if (busy() || session_.lastSaved().output.empty()) return;
    showFileJob(tr("идёт проверка результата: %1").arg(fileNameOf(session_.lastSaved().output)));
    jobs_.start(Job::Verify, [this](JobSink& sink) { return session_.verify({}, sink); });
}

void RepairPage::showCheckResult(const VerifyResult& result) {
    if (result.failure) {
        setStatus(QString::fromStdString(failureText(result.failure)));
        return;
    }
    const OutputCheck& check = result.check;
    const WrittenRepairs& written = result.written;
    QString text =
        tr("результат %1: блоков %2, с ошибками %3")
            .arg(fileNameOf(written.output), grouped(check.blocks), grouped(check.broken));
    // A rewritten length or a padded block scans clean whatever its payload
    // holds, and so does a block the fallback wrote: those are named apart.
    if (written.automatic) {
        text += tr("; длина переписана: %1, дополнено: %2")
                    .arg(grouped(written.count(WrittenAs::LengthRewritten)),
                         grouped(written.count(WrittenAs::Padded)));
    }
    if (written.unresolved > 0) text += tr("; не решено: %1").arg(grouped(written.unresolved));
    // Damage the checks of the content still find in the written file.
    if (check.findingCount() > 0) {
        text +=
            tr("; осталось: %1").arg(QString::fromStdString(findingListText(check.findingsByKind)));
    }
    setStatus(text);
}

// --- the list's menu ---------------------------------------------------------------

void RepairPage::saveErrorIndex() {
    if (busy()) return;
    // Refused before any question: an index of no scan must never replace one.
    if (!session_.hasFindings()) {
        setStatus(QString::fromStdString(messageText(Message::NotScanned)));
        return;
    }
    if (fileExists(indexFileName(session_.path())) && FormYesNo_ != nullptr &&
        !FormYesNo_->AskYesNo(tr("файл уже существует. перезаписать?"), window())) {
        return;
    }
    const IndexResult saved = session_.saveIndex();
    if (saved.failure) {
        setStatus(withDetail(saveResultText(saved.failure), saved.failure));
        return;
    }
    setStatus(tr("ошибки сохранены: %1").arg(fileNameOf(saved.indexPath)));
}

void RepairPage::loadErrorIndex() {
    if (busy()) return;
    // A stopped scan's index is taken: its scan goes on before a save.
    const IndexResult load = session_.loadIndex({inputPath(), true});
    followSession();
    if (load.failure) {
        // An index file that changed between its check and its loading
        // leaves no table: the list then names no block of the old one.
        if (load.tableLost) listBrokenBlocks();
        setStatus(QString::fromStdString(failureText(load.failure)));
        return;
    }
    ImageEX->hide();
    listBrokenBlocks();
    showSectors(state_.sectorFaults);
    // The number with its digits grouped; the plural only picks the word.
    QString text = tr("ошибки загружены: %1, %2 строк", nullptr, static_cast<int>(load.listed))
                       .arg(fileNameOf(load.indexPath), grouped(load.listed));
    if (load.stopped)
        text += QStringLiteral("; ") + QString::fromStdString(messageText(Message::StoppedScan));
    setStatus(text);
}

bool RepairPage::readDump(size_t entry, BlockDump& bytes) {
    Failure failed;
    if (readBlockForDump(state_, session_.path(), entry, bytes, &failed)) return true;
    if (failed) setStatus(QString::fromStdString(failureText(failed)));
    return false;
}

void RepairPage::dumpCurrentBlock() {
    if (busy() || FormDU_ == nullptr) return;
    const int row = currentGridRow();
    if (row < 1) return;
    if (const std::optional<size_t> index = grid_.rowEntry(row, state_.table)) dumpEntry(*index);
}

// A block that cannot be read (a read error, an input that is no longer
// the file scanned) is said instead of its bytes.
void RepairPage::dumpEntry(size_t index, std::optional<Position> at) {
    BlockDump bytes;
    if (!readDump(index, bytes)) return;
    showDump(bytes, at);
}

void RepairPage::dumpSector(const QModelIndex& index) {
    if (busy() || FormDU_ == nullptr || !index.isValid()) return;
    // The rows count the stream as the rip holds it; once a repair has cut
    // regions out, the table counts the stream without them.
    const Position at =
        state_.view.fileToStream(sectors_->rows()[static_cast<size_t>(index.row())].streamStart);
    if (const std::optional<size_t> block = blockHolding(state_.table, at)) dumpEntry(*block, at);
}

}  // namespace mpg::ui
