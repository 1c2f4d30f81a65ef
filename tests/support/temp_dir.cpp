#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace mpg::test {

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "mpgmend-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string p = file(name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + p);
    return p;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> fixtureValues(const std::string& name) {
    std::map<std::string, std::string> values;
    std::ifstream in(fixture(name));
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

std::string fixture(const std::string& name) {
    return std::string(MPGMEND_TEST_DATA) + "/" + name;
}

int withFileSizeLimit(uint64_t limit, const std::function<int()>& job) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &size);
        ::_exit(job());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

void rewriteInPlace(const std::string& path, uint64_t at) {
    struct stat before {};
    const uint8_t bytes[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0xDE, 0xAD, 0xBE, 0xEF};
    const int fd = ::open(path.c_str(), O_WRONLY);
    const bool written =
        fd >= 0 && ::fstat(fd, &before) == 0 &&
        ::pwrite(fd, bytes, sizeof bytes, static_cast<off_t>(at)) == ssize_t{sizeof bytes};
    if (fd >= 0) ::close(fd);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (!written || ::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("cannot rewrite " + path);
    }
}

void touch(const std::string& path) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 678}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("cannot touch " + path);
    }
}

}  // namespace mpg::test
