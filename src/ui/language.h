// The window's language. It follows the system's (LANG, LC_MESSAGES...) where
// a translation exists, unless the user chose one on the settings page; the
// choice is kept in the user's settings (~/.config/mpgmend/mpgmend.conf) and
// takes effect at once: every window shows its texts anew.
#pragma once

#include <optional>

#include "text/translate.h"

namespace mpg::ui {

// Speaks `language` from now on: the core's texts and the windows' own, the
// open windows told to show theirs anew (QEvent::LanguageChange).
void useLanguage(Language language);

// The user's choice, none for "as the system's".
std::optional<Language> chosenLanguage();
// Keeps the choice (none: follow the system) and speaks what it means.
void chooseLanguage(std::optional<Language> choice);
// What the window speaks at start: the choice, else the system's.
Language startLanguage();

// The boxes whose choice the user's settings keep, as the language: a
// flag by its key, `fallback` when none is kept.
inline constexpr char kDecodeCheckKey[] = "decodeCheck";
bool keptFlag(const char* key, bool fallback);
void keepFlag(const char* key, bool on);

}  // namespace mpg::ui
