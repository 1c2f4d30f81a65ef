#include <QtTest>

class FormYesNoTest : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};

QTEST_MAIN(FormYesNoTest)
#include "form_yes_no_test.moc"
