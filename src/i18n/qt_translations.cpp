#include "i18n/qt_translations.h"

#include <QLocale>
#include <QString>
#include <cctype>
#include <string>

namespace mpg {

QtTranslations::QtTranslations() {
    // Compiled into the resources by the build, so that no installed file can
    // be missing or stale.
    loaded_ = english_.load(QStringLiteral(":/i18n/mpgmend_en.qm")) &&
              russian_.load(QStringLiteral(":/i18n/mpgmend_ru.qm"));
}

std::string QtTranslations::find(Language language, const char* context, const char* source,
                                 const char* disambiguation, int64_t n) const {
    const QTranslator& t = language == Language::English ? english_ : russian_;
    // Qt counts in int; a count beyond it takes the plural form of its last
    // three digits' worth, which is the same form in both languages.
    const int count = n < 0 ? -1 : static_cast<int>(n % 1000000 + (n >= 1000000 ? 1000000 : 0));
    return t.translate(context, source, disambiguation, count).toStdString();
}

QTranslator& QtTranslations::translator(Language language) {
    return language == Language::English ? english_ : russian_;
}

std::optional<Language> languageNamed(std::string_view name) {
    std::string lower;
    for (const char c : name)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto startsWith = [&](std::string_view prefix) {
        return lower.compare(0, prefix.size(), prefix) == 0 &&
               (lower.size() == prefix.size() ||
                !std::isalpha(static_cast<unsigned char>(lower[prefix.size()])));
    };
    if (startsWith("en") || lower == "english") return Language::English;
    if (startsWith("ru") || lower == "russian" || name == "русский") return Language::Russian;
    return std::nullopt;
}

Language systemLanguage() {
    for (const QString& name : QLocale::system().uiLanguages()) {
        if (const std::optional<Language> l = languageNamed(name.toStdString())) return *l;
    }
    return Language::Russian;
}

const char* languageCode(Language language) {
    return language == Language::English ? "en" : "ru";
}

}  // namespace mpg
