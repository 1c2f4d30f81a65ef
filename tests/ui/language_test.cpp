// The window's language: English or Russian at once when the user chooses,
// every control and the core's status texts in the new language, the choice
// kept for the next start; the system's language where none is chosen.
#include <QCheckBox>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

#include "i18n/qt_translations.h"
#include "support/temp_dir.h"
#include "text/messages.h"
#include "ui/language.h"
#include "ui/program.h"

using namespace mpg;
using namespace mpg::ui;
using mpg::test::Program;

class LanguageTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanup() { chooseLanguage(std::nullopt); }
    void everyTextChangesWithTheLanguage();
    void theSettingsPageChoiceIsKept();
    void theDecodeBoxIsKeptAndSetsTheScan();
    void aTextThePageSetStaysUntilItIsSetAgain();
    void theSystemLanguageChoosesWhereATranslationExists();

  private:
    test::TempDir config_;
};

void LanguageTest::initTestCase() {
    // The choice is written to the user's settings: a folder of the test's own.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_.path()));
    QVERIFY(QtTranslations().loaded());
}

// The repair page's decode box: off at first, its mark kept in the user's
// settings like the language, and the state's flag the scan reads follows it.
void LanguageTest::theDecodeBoxIsKeptAndSetsTheScan() {
    {
        Program p;
        auto* box = p.get<QCheckBox>("CheckDecode");
        QVERIFY(!box->isChecked());
        QVERIFY(!p.state.decodeCheck);
        box->setChecked(true);
        QVERIFY(p.state.decodeCheck);
    }
    Program again;
    auto* box = again.get<QCheckBox>("CheckDecode");
    QVERIFY(box->isChecked());
    QVERIFY(again.state.decodeCheck);
    useLanguage(Language::English);
    QCOMPARE(box->text(), QStringLiteral("check by decoding"));
    box->setChecked(false);
    QVERIFY(!again.state.decodeCheck);
    QVERIFY(!Program().get<QCheckBox>("CheckDecode")->isChecked());
}

void LanguageTest::everyTextChangesWithTheLanguage() {
    useLanguage(Language::Russian);
    Program p;
    auto* tabs = p.get<QTabWidget>("PageControl1");
    auto* verify = p.get<QPushButton>("BitBtnVERIFY");
    auto* dp = p.get<QCheckBox>("CheckDP");
    auto* list = p.get<QTableView>("StringER");
    QCOMPARE(tabs->tabText(0), QStringLiteral("ремонт"));
    QCOMPARE(verify->text(), QStringLiteral("проверить результат"));

    useLanguage(Language::English);
    QCOMPARE(tabs->tabText(0), QStringLiteral("repair"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("settings"));
    QCOMPARE(verify->text(), QStringLiteral("check the result"));
    QCOMPARE(dp->text(), QStringLiteral("if the delta is positive"));
    QCOMPARE(p.get<QCheckBox>("CheckPre")->text(),
             QStringLiteral("check the pieces before joining"));
    QVERIFY(verify->toolTip().startsWith(QStringLiteral("scan the file just saved")));
    QCOMPARE(list->model()->headerData(3, Qt::Horizontal).toString(),
             QStringLiteral("offset in file"));
    QVERIFY(p.main.windowTitle().startsWith(QStringLiteral("MPEG1 file repair")));
    // The core's texts follow: an open without a name says so in English.
    QCOMPARE(QString::fromStdString(messageText(Message::ScanDone)),
             QStringLiteral("scan finished"));

    useLanguage(Language::Russian);
    QCOMPARE(tabs->tabText(0), QStringLiteral("ремонт"));
    QCOMPARE(dp->text(), QStringLiteral("если дельта положительна"));
    QCOMPARE(p.get<QCheckBox>("CheckPre")->text(), QStringLiteral("проверить куски перед сборкой"));
    QCOMPARE(list->model()->headerData(3, Qt::Horizontal).toString(),
             QStringLiteral("offset в файле"));
}

void LanguageTest::theSettingsPageChoiceIsKept() {
    useLanguage(Language::Russian);
    Program p;
    auto* combo = p.get<QComboBox>("ComboLang");
    QCOMPARE(combo->currentIndex(), 0);  // as the system's
    combo->activated(combo->findData(QStringLiteral("en")));
    QCOMPARE(p.get<QPushButton>("BitBtnGO")->text(), QStringLiteral("go"));
    QCOMPARE(chosenLanguage(), std::optional<Language>(Language::English));
    QCOMPARE(startLanguage(), Language::English);
    // The list of choices is made anew in the new language and keeps the choice.
    QCOMPARE(combo->itemText(0), QStringLiteral("as the system's"));
    QCOMPARE(combo->currentData().toString(), QStringLiteral("en"));

    combo->activated(0);
    QCOMPARE(chosenLanguage(), std::nullopt);
}

void LanguageTest::aTextThePageSetStaysUntilItIsSetAgain() {
    useLanguage(Language::Russian);
    Program p;
    auto* go = p.get<QPushButton>("BitBtnGO");
    go->setText(QStringLiteral("стоп"));  // as a running scan shows
    useLanguage(Language::English);
    QCOMPARE(go->text(), QStringLiteral("стоп"));
    QCOMPARE(p.get<QRadioButton>("RadioAUTO")->text(),
             QStringLiteral("find a repair automatically"));
    useLanguage(Language::Russian);
}

void LanguageTest::theSystemLanguageChoosesWhereATranslationExists() {
    QCOMPARE(languageNamed("en_US.UTF-8"), std::optional<Language>(Language::English));
    QCOMPARE(languageNamed("ru-RU"), std::optional<Language>(Language::Russian));
    QCOMPARE(languageNamed("de_DE.UTF-8"), std::nullopt);
    QCOMPARE(languageNamed("enx"), std::nullopt);

    // The program itself, started in an English or a German locale with no
    // choice kept: its help is English, then Russian, the programs' own.
    const auto help = [this](const char* lang) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(config_.path()));
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("LC_MESSAGES"));
        env.remove(QStringLiteral("LANGUAGE"));
        env.insert(QStringLiteral("LANG"), QString::fromLatin1(lang));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(MPGMEND_APP), {QStringLiteral("--help")});
        process.waitForFinished(20000);
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    QVERIFY2(help("en_US.UTF-8").contains(QStringLiteral("MPEG1 file repair")),
             qPrintable(help("en_US.UTF-8")));
    QVERIFY(help("de_DE.UTF-8").contains(QStringLiteral("ремонт файлов в формате MPEG1")));
}

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
