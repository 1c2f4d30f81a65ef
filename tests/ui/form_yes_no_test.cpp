#include "ui/form_yes_no.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <functional>

#include "ui/widgets.h"

using mpg::ui::TFormYesNo;

namespace {

template <class T = QWidget>
T* part(const TFormYesNo& dlg, const char* name) {
    return dlg.findChild<T*>(QLatin1String(name));
}

void click(TFormYesNo& dlg, const char* name) {
    QTest::mouseClick(part(dlg, name), Qt::LeftButton);
}

// Keys go where the keyboard sends them: the window's focus widget.
void key(TFormYesNo& dlg, Qt::Key k) {
    QTest::keyClick(dlg.focusWidget(), k);
}

QString shownPicture(const TFormYesNo& dlg) {
    QStringList shown;
    for (const auto* image : dlg.findChildren<mpg::ui::TImage*>()) {
        if (image->isVisible()) shown << image->objectName();
    }
    return shown.join(u' ');
}

// A question's answer, and what the dialog showed as it opened: the captions,
// the focused control, the picture and the text.
struct Asked {
    bool result = false;
    QStringList shown;
    QRect frame;
};

// Asks `question` and runs `answer` once the dialog is up. A dialog still open
// then is closed and reported, so a dead button cannot hang the run.
Asked ask(TFormYesNo& dlg, const std::function<bool()>& question,
          const std::function<void()>& answer) {
    Asked a;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &dlg, [&] {
        const QWidget* focus = dlg.focusWidget();
        a.shown = {part<QPushButton>(dlg, "BitBtnDa")->text(),
                   part<QPushButton>(dlg, "BitBtnNet")->text(),
                   focus ? focus->objectName() : QString(), shownPicture(dlg),
                   part<QLabel>(dlg, "LabelTXT")->text()};
        a.frame = dlg.frameGeometry();
        answer();
        if (dlg.isVisible()) {
            dlg.done(QDialog::Rejected);
            QTest::qFail("the answer left the dialog open", __FILE__, __LINE__);
        }
    });
    timer.start(0);
    a.result = question();
    return a;
}

Asked askYesNo(TFormYesNo& dlg, const std::function<void()>& answer,
               const QString& message = QStringLiteral("?"), QWidget* owner = nullptr) {
    return ask(
        dlg, [&] { return dlg.AskYesNo(message, owner); }, answer);
}

Asked askCaptions(TFormYesNo& dlg, QChar defaultButton, const std::function<void()>& answer) {
    return ask(
        dlg,
        [&] {
            return dlg.AskYesNoCaptions(QStringLiteral("?"), QStringLiteral("продолжить"),
                                        QStringLiteral("сначала"), defaultButton, nullptr);
        },
        answer);
}

}  // namespace

class FormYesNoTest : public QObject {
    Q_OBJECT
  private slots:
    void controlsFollowWidthAndSizeReturnsOnClose() {
        TFormYesNo dlg;
        auto geometries = [&] {
            return QList<QRect>(
                {part(dlg, "BitBtnDa")->geometry(), part(dlg, "BitBtnNet")->geometry(),
                 part(dlg, "LabelTXT")->geometry(), part(dlg, "ImageY")->geometry()});
        };
        const QList<QRect> design = {QRect(235, 16, 97, 25), QRect(235, 48, 97, 25),
                                     QRect(64, 8, 163, 73), QRect(16, 24, 40, 40)};
        QCOMPARE(dlg.size(), QSize(348, 88));
        QCOMPARE(geometries(), design);
        askYesNo(dlg, [&] {
            dlg.resize(400, 120);
            QCOMPARE(geometries(), QList<QRect>({QRect(287, 16, 97, 25), QRect(287, 48, 97, 25),
                                                 QRect(64, 8, 215, 73), QRect(16, 24, 40, 40)}));
            click(dlg, "BitBtnNet");
        });
        QCOMPARE(dlg.size(), QSize(348, 88));
        QCOMPARE(geometries(), design);
    }

    void centresOverOwnerFrame_data() {
        QTest::addColumn<QRect>("owner");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("main window") << QRect(20, 17, 618, 422) << QPoint(155, 184);
        // (301 - 348) / 2 and (75 - 88) / 2 truncate toward zero: -23 and -6.
        QTest::newRow("owner smaller") << QRect(40, 30, 301, 75) << QPoint(17, 24);
    }
    void centresOverOwnerFrame() {
        QFETCH(QRect, owner);
        QFETCH(QPoint, expected);
        QWidget window;
        window.move(owner.topLeft());
        window.resize(owner.size());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Sized so that the outer bounds, frame included, are `owner`.
        window.resize(owner.size() - (window.frameGeometry().size() - window.size()));
        QCOMPARE(window.frameGeometry(), owner);
        TFormYesNo dlg;
        const Asked a = askYesNo(
            dlg, [&] { click(dlg, "BitBtnNet"); }, "?", &window);
        QCOMPARE(a.frame, QRect(expected, QSize(348, 88)));
    }

    void captionsFocusAndTextPerQuestion() {
        TFormYesNo dlg;
        auto no = [&] { click(dlg, "BitBtnNet"); };
        const QString da = QStringLiteral("да"), net = QStringLiteral("нет");
        QCOMPARE(askYesNo(dlg, no, QString()).shown,
                 QStringList({da, net, "BitBtnNet", "ImageQ",
                              "Вы действительно хотите\r\nудалить текущую запись?"}));
        QCOMPARE(askCaptions(dlg, u'n', no).shown,
                 QStringList({"продолжить", "сначала", "BitBtnNet", "ImageQ", "?"}));
        QCOMPARE(askYesNo(dlg, no).shown, QStringList({da, net, "BitBtnNet", "ImageQ", "?"}));
        QCOMPARE(askCaptions(dlg, u'y', no).shown.at(2), "BitBtnDa");
        // A plain question keeps the focus choice of the last captioned one.
        QCOMPARE(askYesNo(dlg, no).shown, QStringList({da, net, "BitBtnDa", "ImageQ", "?"}));
        QCOMPARE(part<QLabel>(dlg, "LabelTXT")->text(),
                 "Вы действительно хотите удалить текущую запись?");
    }

    void answers() {
        TFormYesNo dlg;
        auto yes = [&] { click(dlg, "BitBtnDa"); };
        // Each "no" follows a "yes", so a stale answer would show.
        QVERIFY(askYesNo(dlg, yes).result);
        QVERIFY(!askYesNo(dlg, [&] { click(dlg, "BitBtnNet"); }).result);
        QVERIFY(askYesNo(dlg, [&] {
                    key(dlg, Qt::Key_Escape);
                    QVERIFY(dlg.isVisible());
                    yes();
                }).result);
        QVERIFY(!askYesNo(dlg, [&] { dlg.close(); }).result);
        QVERIFY(!askYesNo(dlg, [&] { key(dlg, Qt::Key_Return); }).result);
        QVERIFY(askCaptions(dlg, u'y', [&] { key(dlg, Qt::Key_Return); }).result);
    }

    void doubleClicksCyclePicturesAcrossQuestions() {
        TFormYesNo dlg;
        QStringList after;
        auto dblClicks = [&](int n) {
            return [&dlg, &after, n] {
                for (int i = 0; i < n; ++i) {
                    QTest::mouseDClick(part(dlg, qPrintable(shownPicture(dlg))), Qt::LeftButton);
                }
                after << shownPicture(dlg);
                click(dlg, "BitBtnNet");
            };
        };
        QCOMPARE(askYesNo(dlg, dblClicks(2)).shown.at(3), "ImageQ");
        QCOMPARE(askYesNo(dlg, dblClicks(1)).shown.at(3), "ImageB");
        QCOMPARE(askYesNo(dlg, dblClicks(1)).shown.at(3), "ImageY");
        QCOMPARE(askYesNo(dlg, dblClicks(0)).shown.at(3), "ImageQ");
        QCOMPARE(after, QStringList({"ImageB", "ImageY", "ImageQ", "ImageQ"}));
        QCOMPARE(dlg.currentPicture(), u'q');
    }
};

QTEST_MAIN(FormYesNoTest)
#include "form_yes_no_test.moc"
