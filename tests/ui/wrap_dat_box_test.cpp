// The repair page's box that saves a rip's repaired stream as a rip again:
// enabled for a .dat input only, the proposed name following it, and the
// save writing the clean rip back byte for byte.
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "support/temp_dir.h"
#include "ui/program.h"
#include "ui/widgets.h"

namespace mpg {

class WrapDatBoxTest : public QObject {
    Q_OBJECT
  private slots:
    void boxFollowsTheInputAndTheSaveWrapsTheRip();
    void openDialogOffersTheRipsOfADisc();
};

void WrapDatBoxTest::boxFollowsTheInputAndTheSaveWrapsTheRip() {
    test::Program p;
    test::TempDir dir;
    auto* box = p.get<QCheckBox>("CheckWrapDat");
    auto* output = p.get<QLineEdit>("EditOUT");
    QVERIFY(!box->isEnabled());
    QVERIFY(!box->isChecked());

    const std::vector<uint8_t> rip = test::readFile(test::fixture("vcd-mplex.dat"));
    const std::string input = dir.write("AVSEQ01.DAT", rip);
    p.setInput(input);
    QVERIFY(box->isEnabled());
    QCOMPARE(output->text().toStdString(), dir.file("avseq01.001.mpg"));
    box->setChecked(true);
    QCOMPARE(output->text().toStdString(), dir.file("avseq01.001.dat"));
    box->setChecked(false);
    QCOMPARE(output->text().toStdString(), dir.file("avseq01.001.mpg"));
    box->setChecked(true);

    p.get<QPushButton>("BitBtnOP")->click();
    p.get<QPushButton>("BitBtnGO")->click();
    QVERIFY(p.waitForJobEnd());
    p.get<ui::TImage>("ImageSA")->clicked();
    QVERIFY(p.waitForJobEnd());
    QCOMPARE(p.status(), QStringLiteral("файл сохранён"));
    QVERIFY(test::readFile(dir.file("avseq01.001.dat")) == rip);
    QVERIFY(test::readFile(input) == rip);

    // A plain stream: the box is off whatever its mark, the name .mpg.
    p.setInput(dir.write("plain.mpg", test::readFile(test::fixture("vcd-mplex.mpg"))));
    QVERIFY(!box->isEnabled());
    QCOMPARE(output->text().toStdString(), dir.file("plain.001.mpg"));
}

// A video CD's AVSEQ01.DAT is found through the open dialog's filter of
// disc files, which the default filter of .mpg and .mpeg hides.
void WrapDatBoxTest::openDialogOffersTheRipsOfADisc() {
    test::Program p;
    test::TempDir dir;
    const std::string rip =
        dir.write("AVSEQ01.DAT", test::readFile(test::fixture("vcd-mplex.dat")));
    p.setInput(dir.file("none.mpg"));
    QStringList offered;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        offered = dialog->nameFilters();
        dialog->selectNameFilter(offered.value(2));
        dialog->selectFile(QString::fromStdString(rip));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    p.get<ui::TImage>("ImageFI")->clicked();
    QCOMPARE(offered.size(), 3);
    QVERIFY(offered[2].contains(QStringLiteral("*.DAT")));
    QCOMPARE(p.get<QLineEdit>("EditIN")->text().toStdString(), rip);
    QVERIFY(p.get<QCheckBox>("CheckWrapDat")->isEnabled());
}

}  // namespace mpg

QTEST_MAIN(mpg::WrapDatBoxTest)
#include "wrap_dat_box_test.moc"
