// Temporary files for tests, removed with the TempDir.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace mpg::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes the bytes to a file of this folder and returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

  private:
    std::string path_;
};

std::vector<uint8_t> readFile(const std::string& path);
// The names in a folder, sorted: what a job left behind, temporary files included.
std::vector<std::string> listFolder(const std::string& path);
std::string fixture(const std::string& name);
// The key=value lines of a fixture's sidecar (vcd-dat.txt) as a map.
std::map<std::string, std::string> fixtureValues(const std::string& name);
// Runs `job` in a child process whose files may grow to `limit` bytes, as a
// full disk would stop them (SIGXFSZ ignored, as the programs do): the limit
// does not reach the tests. The child's exit code (job's result), -1 if it did
// not exit.
int withFileSizeLimit(uint64_t limit, const std::function<int()>& job);

// Another program's changes to a file a job reads (a failure throws): eight
// bytes written over those at `at` with the modification time set back, as
// an edit in place that hides itself leaves the file; and the modification
// time moved, as any write leaves it.
void rewriteInPlace(const std::string& path, uint64_t at);
void touch(const std::string& path);

}  // namespace mpg::test
