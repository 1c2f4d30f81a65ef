#include "cli_run.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "i18n/qt_translations.h"

namespace mpg::test {

namespace {

// The tests make the texts they expect with the programs' own translations,
// English glosses included. Loaded once the tests run: the compiled
// translations are resources, registered by static initializers of their own.
class Translated : public ::testing::Environment {
  public:
    void SetUp() override { installTranslations(&translations_.emplace()); }

  private:
    std::optional<QtTranslations> translations_;
};
[[maybe_unused]] const auto* translated = ::testing::AddGlobalTestEnvironment(new Translated);

// Built by appending: gcc 12 reports a false -Wrestrict for "'" + s at -O3.
std::string quote(const std::string& s) {
    std::string q(1, '\'');
    q += s;
    q += '\'';
    return q;
}

}  // namespace

CliRun cli(const std::vector<std::string>& args, const TempDir& dir, const std::string& cwd) {
    std::string cmd;
    if (!cwd.empty()) {
        cmd += "cd ";
        cmd += quote(cwd);
        cmd += " && ";
    }
    cmd += quote(MPGMEND_CLI);
    for (const std::string& a : args) {
        cmd += ' ';
        cmd += quote(a);
    }
    const std::string errFile = dir.file("stderr.txt");
    cmd += " </dev/null 2>";
    cmd += quote(errFile);
    CliRun r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    std::array<char, 4096> buf{};
    while (size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) r.out.append(buf.data(), n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto err = readFile(errFile);
    r.err.assign(err.begin(), err.end());
    return r;
}

std::vector<uint8_t> withRun(std::vector<uint8_t> bytes, size_t at, size_t length, uint8_t byte) {
    while (bytes[at - 1] == byte || bytes[at] == byte) ++at;
    bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at), length, byte);
    return bytes;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace mpg::test
