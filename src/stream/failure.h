// Why a job or a file operation failed, kept as values until a front end
// turns it into its text: what went wrong, with which file, where, and the
// system's own reason (errno). A default Failure means "no failure". Every
// operation of the core and of the repair session reports its failure in
// this one shape. The calls made once per block or per write on the hot
// path (a view's reads, the writer's appends) return their bytes or a bool
// instead, and keep this Failure in their object (failure()): a Failure
// returned from each would copy a path a million times over.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mpg {

enum class FailureKind {
    None,
    OpenFailed,     // the file could not be opened (missing, unreadable)
    NotRegular,     // a directory, pipe, device or socket where a file was expected
    ReadFailed,     // the system refused a read (an I/O error)
    WriteFailed,    // a write, the flush or the close of the output failed
    RenameFailed,   // the finished temporary output could not take its name
    OutputIsInput,  // the output is the input, by whatever path or link
    OutputExists,   // a file holds the output's name, and replacing it was not asked
    InputChanged,   // the input's size or time changed while the job ran
    BadIndex,       // an index file that does not fit the input
    Stopped,        // the user asked to stop
    BadStructure,   // a join input whose blocks do not follow one another
    CutShort,       // a join input that ends where a block should begin
    EmptyPiece,     // a join input without a single block of a stream
    NotADat,        // sectors asked for around the stream of an input that is no rip
    NoRoomInDat,    // past a .dat's limits: RIFF's 32-bit sizes, 100 minutes of addresses
    NotSeekable,    // a .dat written into an output that cannot go back to its header
    NoIndex,        // no index file beside the input
    NotScanned,     // an index asked of a table no scan made, or one a repair changed since
    NothingSaved,   // a check of the output asked for before any was written
    StoppedScan,    // a table that does not reach the end of the file (a scan was stopped):
                    // its index taken as whole, or its stream saved as whole
    OutOfMemory,    // the job could not get the memory it needed
};

struct [[nodiscard]] Failure {
    FailureKind kind = FailureKind::None;
    std::string path;       // the file concerned, as the user named it
    uint64_t position = 0;  // the file position of a failed read; after a stop, the bytes kept
    int systemError = 0;    // errno, 0 when the system gave no reason
    // In a join: the number of the piece (from 0) the failure is in, -1 for
    // none; `position` is then the offset in that piece, and `found` the
    // bytes read there (foundCount of them) where a block should begin.
    int piece = -1;
    std::array<uint8_t, 4> found{};
    uint8_t foundCount = 0;

    explicit operator bool() const { return kind != FailureKind::None; }
};

inline Failure failureOf(FailureKind kind, const std::string& path, int systemError = 0,
                         uint64_t position = 0) {
    return Failure{kind, path, position, systemError, -1, {}, 0};
}

}  // namespace mpg
