// The open check over arbitrary names and files: no name, a missing file, a
// folder, a pipe, a device, a file of 4 GiB, one just short of that, one
// whose reads fail, and files of any bytes, short ones included. The result
// follows from the name and the first bytes alone; the file is closed on
// every outcome; the table, the cut list and the codes are emptied only when
// the file opened; and the status text names the file and the system's
// reason exactly where the file could not be opened or read.
//
// The low 4 bits of byte 0 choose what the name names; the file's bytes are
// the rest.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "analysis/scan_control.h"

#include "fuzz_support.h"
#include "text/messages.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

enum class Named {
    File,
    NoName,
    Missing,
    Folder,
    Pipe,
    Device,
    PastFourGiB,
    LargestFile,
    Unreadable
};

// Settings 0 to 7 name a file of the bytes, the others one thing each.
constexpr Named kNamedBy[16] = {
    Named::File,   Named::File,        Named::File,        Named::File,
    Named::File,   Named::File,        Named::File,        Named::File,
    Named::NoName, Named::Missing,     Named::Folder,      Named::Pipe,
    Named::Device, Named::PastFourGiB, Named::LargestFile, Named::Unreadable,
};

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

// The result the first bytes of a file that opens give: the signature, then
// a system header right behind the 12-byte pack header. Bytes past the end
// read as zero.
CheckResult expectedOf(const std::vector<uint8_t>& bytes) {
    const auto code = [&](size_t at) {
        uint32_t c = 0;
        for (size_t i = at; i < at + 4; ++i) c = c << 8 | (i < bytes.size() ? bytes[i] : 0);
        return c;
    };
    if (code(0) != kPackStartCode) return CheckResult::NoSignature;
    if (code(kPackHeaderSize) != kSystemHeaderStartCode) return CheckResult::NoSystemHeader;
    return CheckResult::Ok;
}

bool startsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const Named named = kNamedBy[data[0] & 15];
    const std::vector<uint8_t> bytes(data + 1, data + size);
    MemFile file(bytes);
    int pipeEnds[2] = {-1, -1};

    std::string path = file.path();
    CheckResult expected = expectedOf(bytes);
    switch (named) {
        case Named::File:
            break;
        case Named::NoName:
            path.clear();
            expected = CheckResult::NoName;
            break;
        case Named::Missing:
            path = "/proc/self/fd/999999";
            expected = CheckResult::OpenFailed;
            break;
        case Named::Folder:
            path = "/proc/self/fd";
            expected = CheckResult::NotRegular;
            break;
        case Named::Pipe:
            if (::pipe2(pipeEnds, O_CLOEXEC) != 0) abort();
            path = "/proc/self/fd/" + std::to_string(pipeEnds[0]);
            expected = CheckResult::NotRegular;
            break;
        case Named::Device:
            path = "/dev/null";
            expected = CheckResult::NotRegular;
            break;
        case Named::PastFourGiB:
            // Past 4 GiB: checked like any other file.
            file.extend(kFourGiB - bytes.size() + (data[0] >> 4));
            break;
        case Named::LargestFile:
            if (bytes.size() < kFourGiB - 1) file.extend(kFourGiB - 1 - bytes.size());
            break;
        case Named::Unreadable:
            // A regular file of no length whose reads the system refuses.
            path = "/proc/self/mem";
            expected = CheckResult::ReadFailed;
            break;
    }

    // What an earlier file left: a table, a cut and the codes of its header.
    AppState state;
    const BlockRecord earlier{0, 0x1BA, 12};
    state.table.assign({earlier});
    state.view.addCut(5, 3);
    state.codes = {0x1C7, 0x1E7};
    // The model above is the strict walk's: MPEG-1 alone.
    state.rules = StreamRules::Literal;

    const CheckResult result = openAndCheck(state, path).result;
    FUZZ_CHECK(result == expected);
    FUZZ_CHECK(!state.view.isOpen());
    const bool opened = result == CheckResult::Ok || result == CheckResult::NoSignature ||
                        result == CheckResult::NoSystemHeader || result == CheckResult::ReadFailed;
    if (opened) {
        FUZZ_CHECK(state.table.empty() && state.view.cuts().empty());
        const StreamCodes initial;
        const auto at = [&](size_t i) { return i < bytes.size() ? bytes[i] : 0; };
        if (result == CheckResult::Ok) {
            // Each code is the initial one or the stream the header lists.
            FUZZ_CHECK(state.codes.first() == initial.first() ||
                       state.codes.first() == (kStartCodePrefix | at(24)));
            FUZZ_CHECK(state.codes.second() == initial.second() ||
                       state.codes.second() == (kStartCodePrefix | at(27)));
        } else {
            FUZZ_CHECK(state.codes.first() == initial.first() &&
                       state.codes.second() == initial.second());
        }
    } else {
        FUZZ_CHECK(state.table.entries() == std::vector<BlockRecord>{earlier});
        FUZZ_CHECK(state.view.cuts() == (CutList{{5, 3}}));
        FUZZ_CHECK(state.codes.first() == 0x1C7 && state.codes.second() == 0x1E7);
    }

    // The detail, with the name and the reason, only where the file could
    // not be opened or read; a failed read names where it failed.
    const Failure& why = state.view.failure();
    const std::string text = checkStatusText(result, why);
    const std::string headline = checkResultText(result);
    if (result == CheckResult::OpenFailed || result == CheckResult::NotRegular ||
        result == CheckResult::ReadFailed) {
        FUZZ_CHECK(why.path == path);
        FUZZ_CHECK(startsWith(text, headline + ": " + path + ": "));
        FUZZ_CHECK(text.size() > headline.size() + 2 + path.size() + 2);
        if (result == CheckResult::ReadFailed) {
            FUZZ_CHECK(startsWith(text, headline + ": " + path + ": позиция 0: "));
        }
    } else {
        FUZZ_CHECK(text == headline);
    }

    if (pipeEnds[0] != -1) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
    }
    return 0;
}
