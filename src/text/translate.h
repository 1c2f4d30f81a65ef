// The language of the texts the programs show. The texts are written in
// Russian, the programs' source language, and looked up at the edge in the
// translations Qt's tools keep (translations/*.ts, compiled to .qm): lupdate
// finds every text in the sources by the calls below, lrelease compiles
// them, and a front end installs the compiled translations here. The core's
// texts layer itself holds no Qt: without translations installed, every text
// stays the Russian source, plural forms included as written.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// Marks a source text for lupdate (which reads it as QT_TRANSLATE_NOOP) where
// the text is kept in a table and translated when it is shown.
#define MPG_TR_NOOP(context, text) text
// The same for a text that counts something ("%n байт"), translated with the
// count for its plural form (read as QT_TRANSLATE_N_NOOP).
#define MPG_TR_N_NOOP(context, text) text

namespace mpg {

enum class Language { Russian, English };

// Looks a Russian source text up in a language; what a front end installs.
class Translations {
  public:
    virtual ~Translations() = default;
    // The text of `source` in `language`, the plural form for `n` where n is
    // not negative; empty when there is none.
    virtual std::string find(Language language, const char* context, const char* source,
                             const char* disambiguation, int64_t n) const = 0;
};

// The translations in use (none: the sources as written) and the language the
// programs speak. The front end sets both once, at start-up or on the user's
// choice, before any job runs.
void installTranslations(const Translations* translations);
void setLanguage(Language language);
Language currentLanguage();

// `source` in the current language, or in a given one. "%n" becomes n with its
// digits grouped ("1'234"), and a plural text takes the form n asks for. The
// signature is that of QCoreApplication::translate, for lupdate's sake.
std::string translate(const char* context, const char* source, const char* disambiguation = nullptr,
                      int64_t n = -1);
std::string translateTo(Language language, const char* context, const char* source,
                        const char* disambiguation = nullptr, int64_t n = -1);

// A text's "%1", "%2"... filled in with the arguments, in any order the
// translation puts them.
std::string fillIn(std::string_view pattern, std::initializer_list<std::string_view> args);

// A count with its digits grouped, as every text shows numbers: "1'234".
std::string countText(uint64_t n);

}  // namespace mpg
