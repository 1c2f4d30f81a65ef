// The repair page's box that saves a rip's repaired stream as a rip again:
// enabled for a .dat input only, the proposed name following it, and the
// save writing the clean rip back byte for byte.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "support/temp_dir.h"
#include "ui/program.h"
#include "ui/widgets.h"

namespace mpg {

class WrapDatBoxTest : public QObject {
    Q_OBJECT
  private slots:
    void boxFollowsTheInputAndTheSaveWrapsTheRip();
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

}  // namespace mpg

QTEST_MAIN(mpg::WrapDatBoxTest)
#include "wrap_dat_box_test.moc"
