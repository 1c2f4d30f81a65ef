#include "ui/language.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QSettings>

#include "i18n/qt_translations.h"

namespace mpg::ui {

namespace {

constexpr char kLanguageKey[] = "language";

QtTranslations& translations() {
    static QtTranslations loaded;
    return loaded;
}

QSettings userSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("mpgmend"),
                     QStringLiteral("mpgmend"));
}

}  // namespace

void useLanguage(Language language) {
    static QTranslator* installed = nullptr;
    // Qt's own texts (the file dialog's buttons, the command line's help),
    // where the system has their translation (Debian's qt6-translations-l10n).
    static QTranslator qtOwn;
    QtTranslations& t = translations();
    installTranslations(&t);
    setLanguage(language);
    QCoreApplication::removeTranslator(&qtOwn);
    if (qtOwn.load(QStringLiteral("qtbase_") + QString::fromLatin1(languageCode(language)),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&qtOwn);
    }
    if (installed != nullptr) QCoreApplication::removeTranslator(installed);
    installed = &t.translator(language);
    // Installing posts every widget a LanguageChange event; they are taken
    // at once, so that whatever is shown next is in the new language.
    QCoreApplication::installTranslator(installed);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
}

std::optional<Language> chosenLanguage() {
    return languageNamed(userSettings().value(kLanguageKey).toString().toStdString());
}

void chooseLanguage(std::optional<Language> choice) {
    QSettings settings = userSettings();
    if (choice) {
        settings.setValue(kLanguageKey, QString::fromLatin1(languageCode(*choice)));
    } else {
        settings.remove(kLanguageKey);
    }
    settings.sync();
    useLanguage(choice.value_or(systemLanguage()));
}

Language startLanguage() {
    return chosenLanguage().value_or(systemLanguage());
}

bool keptFlag(const char* key, bool fallback) {
    return userSettings().value(QString::fromLatin1(key), fallback).toBool();
}

void keepFlag(const char* key, bool on) {
    QSettings settings = userSettings();
    settings.setValue(QString::fromLatin1(key), on);
    settings.sync();
}

}  // namespace mpg::ui
