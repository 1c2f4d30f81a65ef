// The texts' translations as Qt's tools keep them: lupdate gathers the
// Russian sources into translations/*.ts, lrelease compiles them into this
// library's resources, and both front ends look their texts up here. English
// is a whole translation; the Russian one holds only the plural forms, which
// the sources can spell for one number alone.
#pragma once

#include <QTranslator>
#include <optional>
#include <string_view>

#include "text/translate.h"

namespace mpg {

class QtTranslations : public Translations {
  public:
    QtTranslations();

    std::string find(Language language, const char* context, const char* source,
                     const char* disambiguation, int64_t n) const override;

    // The compiled translation of a language, for a window program's own
    // texts (QCoreApplication::installTranslator).
    QTranslator& translator(Language language);
    // Whether both languages' translations were found in the resources.
    bool loaded() const { return loaded_; }

  private:
    QTranslator english_;
    QTranslator russian_;
    bool loaded_ = false;
};

// The language a name means: "ru", "en", "en_US.UTF-8", "ru-RU", "English",
// "русский"... and none for a language without a translation.
std::optional<Language> languageNamed(std::string_view name);
// The language of the system's locale (LANG, LC_ALL, LC_MESSAGES) where a
// translation exists, in the order of the user's preferences; else Russian,
// the programs' own.
Language systemLanguage();
// The short name of a language: "ru", "en".
const char* languageCode(Language language);

}  // namespace mpg
