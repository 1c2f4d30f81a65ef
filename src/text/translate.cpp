#include "text/translate.h"

#include <atomic>

#include "stream/procedures.h"
#include "text/numbers.h"

namespace mpg {

namespace {

std::atomic<const Translations*> installed{nullptr};
std::atomic<Language> spoken{Language::Russian};

std::string withCount(std::string text, int64_t n) {
    if (n < 0) return text;
    const std::string count = countText(static_cast<uint64_t>(n));
    for (size_t at = text.find("%n"); at != std::string::npos; at = text.find("%n", at)) {
        text.replace(at, 2, count);
        at += count.size();
    }
    return text;
}

}  // namespace

void installTranslations(const Translations* translations) {
    installed.store(translations);
}

void setLanguage(Language language) {
    spoken.store(language);
}

Language currentLanguage() {
    return spoken.load();
}

std::string translate(const char* context, const char* source, const char* disambiguation,
                      int64_t n) {
    return translateTo(currentLanguage(), context, source, disambiguation, n);
}

std::string translateTo(Language language, const char* context, const char* source,
                        const char* disambiguation, int64_t n) {
    if (const Translations* t = installed.load()) {
        std::string found = t->find(language, context, source, disambiguation, n);
        if (!found.empty()) return withCount(std::move(found), n);
    }
    return withCount(source, n);
}

std::string fillIn(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 16);
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const size_t k = size_t(pattern[i + 1] - '1');
            if (k < args.size()) {
                out += *(args.begin() + k);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::string countText(uint64_t n) {
    return groupDigits(std::to_string(n));
}

}  // namespace mpg
