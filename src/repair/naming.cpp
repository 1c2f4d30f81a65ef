#include "repair/naming.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace mpg {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

size_t countChars(std::string_view text) {
    size_t n = 0;
    for (const char c : text) n += isContinuation(static_cast<unsigned char>(c)) ? 0 : 1;
    return n;
}

bool endsInThreeDigits(std::string_view name) {
    if (name.size() < 3) return false;
    return isDigit(name[name.size() - 3]) && isDigit(name[name.size() - 2]) && isDigit(name.back());
}

char32_t lowerCodePoint(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    return c;
}

// Every letter that changes is ASCII or a two-byte sequence and stays one, so
// only those are decoded; all other bytes, valid or not, are copied as they
// are and no sequence is ever split.
std::string lowerFileName(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lowerCodePoint(lead));
            continue;
        }
        const bool twoBytes = lead >= 0xC2 && lead <= 0xDF && i + 1 < text.size() &&
                              isContinuation(static_cast<unsigned char>(text[i + 1]));
        if (!twoBytes) {
            out += text[i];
            continue;
        }
        const char32_t c =
            lowerCodePoint(((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3Fu));
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// A name of at most 4 characters is a name of its own even when it looks like
// a number: ".001.mpg" gives ".001.001.mpg".
bool hasNumber(std::string_view name) {
    if (countChars(name) <= 4) return false;
    return isNumberExtension(name.substr(name.size() - 4));
}

}  // namespace

bool isNumberExtension(std::string_view text) {
    return text.size() == 4 && text[0] == '.' && endsInThreeDigits(text);
}

std::string nextNumberExtension(std::string_view name) {
    if (!endsInThreeDigits(name)) return std::string(name) + ".001";
    const size_t cut = name.size() - 3;
    const int k = (name[cut] - '0') * 100 + (name[cut + 1] - '0') * 10 + (name[cut + 2] - '0') + 1;
    std::string digits = std::to_string(k);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return std::string(name.substr(0, cut)) + digits;
}

// A dangling symbolic link counts as existing: writing through it would
// create a file somewhere else.
bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string derivedFolderFor(const std::string& input) {
    const size_t slash = input.rfind('/');
    if (slash == std::string::npos) return "";
    const std::string dir = input.substr(0, slash + 1);
    std::error_code error;
    const std::filesystem::path full =
        std::filesystem::weakly_canonical(std::filesystem::absolute(dir, error), error);
    const std::string resolved = error ? dir : full.string() + "/";
    for (const char* system : {"/dev/", "/proc/"}) {
        if (dir.starts_with(system) || resolved.starts_with(system)) return "";
    }
    if (std::filesystem::is_directory(dir, error) && ::access(dir.c_str(), W_OK) != 0) return "";
    return dir;
}

std::string outputNameFor(const std::string& input, const ExistsFn& exists, bool wrapDat) {
    const size_t slash = input.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string dir = derivedFolderFor(input);

    // Dots and digits have no case, so lower-casing first changes none of the
    // tests below, and the existence test then sees the name as it is written.
    const std::string file = lowerFileName(std::string_view(input).substr(nameStart));
    const size_t dot = file.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
    std::string name = file.substr(0, file.size() - ext.size());
    // A video CD rip is repaired into a plain MPEG stream, unless it is
    // wrapped into sectors again.
    if (wrapDat) {
        ext = ".dat";
    } else if (ext == ".dat") {
        ext = ".mpg";
    }

    name = hasNumber(name) ? nextNumberExtension(name) : name + ".001";
    while (exists(dir + name + ext)) name = nextNumberExtension(name);
    return dir + name + ext;
}

}  // namespace mpg
