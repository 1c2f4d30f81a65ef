#include "support/damage.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "analysis/grid_sink.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "model/elementary.h"
#include "support/draws.h"
#include "support/temp_dir.h"

namespace mpg::test {

namespace {

// The value of a run: zeros and 0xFF, what drives and capture cards
// write most, a quarter each; any byte value otherwise.
int runValue(std::mt19937_64& rng) {
    switch (below(rng, 4)) {
        case 0:
            return 0x00;
        case 1:
            return 0xFF;
        default:
            return static_cast<int>(below(rng, 256));
    }
}

// What the generator needs to know of a stream's blocks: which of them each
// class may hit, and where each packet's payload begins.
struct Targets {
    std::vector<size_t> video, audio, mpegAudio, padding, packs;
    std::vector<size_t> payload;  // payload start per block, from its first byte; 0: none

    explicit Targets(const CleanStream& clean) : payload(clean.blocks.size(), 0) {
        for (size_t i = 0; i < clean.blocks.size(); ++i) {
            const BlockRecord& b = clean.blocks[i];
            const size_t size = blockEnd(clean, i) - b.offset;
            if (b.code == kPackStartCode) {
                // The first pack header opens the stream; damage there
                // makes it no stream at all, which no repair is asked to mend.
                if (i > 0 && size > 4) packs.push_back(i);
                continue;
            }
            if (size <= static_cast<size_t>(kLengthFieldEnd)) continue;
            const std::optional<uint32_t> start =
                packetPayloadStart(clean.bytes.data() + b.offset, static_cast<uint32_t>(size));
            if (start && *start < size) payload[i] = *start;
            if (b.code == kPaddingStreamCode) padding.push_back(i);
            if (isVideoCode(b.code)) video.push_back(i);
            if (isAudioCode(b.code) || b.code == (kStartCodePrefix | kPrivateStream1))
                audio.push_back(i);
            if (isAudioCode(b.code) && payload[i] != 0) mpegAudio.push_back(i);
        }
    }

    // The end of block i in the file.
    static size_t blockEnd(const CleanStream& clean, size_t i) {
        const BlockRecord& b = clean.blocks[i];
        return std::min(clean.bytes.size(), static_cast<size_t>(b.offset) +
                                                static_cast<size_t>(std::max(b.declaredSize, 0)));
    }

    // Video and audio packets: what carries the programme.
    std::vector<size_t> data() const {
        std::vector<size_t> all = video;
        all.insert(all.end(), audio.begin(), audio.end());
        std::sort(all.begin(), all.end());
        return all;
    }
    std::vector<size_t> withPayload(const std::vector<size_t>& blocks) const {
        std::vector<size_t> out;
        for (size_t i : blocks) {
            if (payload[i] != 0) out.push_back(i);
        }
        return out;
    }
};

DamageEdit insertion(const CleanStream& clean, size_t block, size_t at, std::vector<uint8_t> bytes,
                     int value) {
    DamageEdit e;
    e.kind = DamageEdit::Kind::Insert;
    e.at = at;
    e.bytes = std::move(bytes);
    e.value = value;
    e.block = block;
    e.code = clean.blocks[block].code;
    return e;
}

DamageEdit run(const CleanStream& clean, size_t block, size_t at, size_t length, int value) {
    return insertion(clean, block, at, std::vector<uint8_t>(length, static_cast<uint8_t>(value)),
                     value);
}

// A position inside block i where an insertion lands in it: behind its
// start code and, for a packet, behind its length field, so that the
// block's declared size stays what it was.
size_t insideBlock(std::mt19937_64& rng, const CleanStream& clean, size_t i) {
    const size_t from =
        clean.blocks[i].offset + (clean.blocks[i].code == kPackStartCode ? 4 : kLengthFieldEnd);
    return between(rng, from, Targets::blockEnd(clean, i) - 1);
}

size_t pick(std::mt19937_64& rng, const std::vector<size_t>& from) {
    return from[below(rng, from.size())];
}

std::vector<uint8_t> applyEdits(const std::vector<uint8_t>& clean,
                                const std::vector<DamageEdit>& edits) {
    std::vector<uint8_t> out;
    out.reserve(clean.size());
    size_t from = 0;
    for (const DamageEdit& e : edits) {
        out.insert(out.end(), clean.begin() + static_cast<ptrdiff_t>(from),
                   clean.begin() + static_cast<ptrdiff_t>(e.at));
        switch (e.kind) {
            case DamageEdit::Kind::Insert:
                out.insert(out.end(), e.bytes.begin(), e.bytes.end());
                from = e.at;
                break;
            case DamageEdit::Kind::Delete:
                from = e.at + e.bytes.size();
                break;
            case DamageEdit::Kind::Truncate:
                return out;
        }
    }
    out.insert(out.end(), clean.begin() + static_cast<ptrdiff_t>(from), clean.end());
    return out;
}

}  // namespace

std::optional<CleanStream> loadCleanStream(const std::string& path) {
    AppState state;
    ErrorGrid grid;
    GridSink sink(grid);
    if (openAndCheck(state, path).result != CheckResult::Ok || scanFileAfresh(state, path, sink)) {
        return std::nullopt;
    }
    CleanStream clean;
    clean.name = path.substr(path.find_last_of('/') + 1);
    clean.blocks = state.table.entries();
    if (std::any_of(clean.blocks.begin(), clean.blocks.end(),
                    [](const BlockRecord& b) { return b.isBroken(); })) {
        return std::nullopt;
    }
    clean.bytes = readFile(path);
    return clean;
}

const char* damageClassText(DamageClass c) {
    switch (c) {
        case DamageClass::RunInVideo:
            return "run in a video packet";
        case DamageClass::RunInAudio:
            return "run in an audio packet";
        case DamageClass::RunInPadding:
            return "run in a padding packet";
        case DamageClass::RunInPackHeader:
            return "run in a pack header";
        case DamageClass::TwoRuns:
            return "two runs in one packet";
        case DamageClass::ThreeRuns:
            return "three runs in one packet";
        case DamageClass::RunBesideEqualByte:
            return "run beside an equal payload byte";
        case DamageClass::RandomInAudio:
            return "random bytes in MPEG audio";
        case DamageClass::RandomInVideo:
            return "random bytes in video";
        case DamageClass::Deletion:
            return "bytes deleted from a payload";
        case DamageClass::Truncation:
            return "file truncated";
        case DamageClass::FiftyRuns:
            return "50 runs in 50 packets";
    }
    return "";
}

const char* damageClassName(DamageClass c) {
    switch (c) {
        case DamageClass::RunInVideo:
            return "RunInVideo";
        case DamageClass::RunInAudio:
            return "RunInAudio";
        case DamageClass::RunInPadding:
            return "RunInPadding";
        case DamageClass::RunInPackHeader:
            return "RunInPackHeader";
        case DamageClass::TwoRuns:
            return "TwoRuns";
        case DamageClass::ThreeRuns:
            return "ThreeRuns";
        case DamageClass::RunBesideEqualByte:
            return "RunBesideEqualByte";
        case DamageClass::RandomInAudio:
            return "RandomInAudio";
        case DamageClass::RandomInVideo:
            return "RandomInVideo";
        case DamageClass::Deletion:
            return "Deletion";
        case DamageClass::Truncation:
            return "Truncation";
        case DamageClass::FiftyRuns:
            return "FiftyRuns";
    }
    return "";
}

std::optional<DamagedStream> damageStream(const CleanStream& clean, DamageClass damage,
                                          std::mt19937_64& rng, size_t leastRun) {
    const Targets targets(clean);
    DamagedStream d;
    d.damage = damage;
    std::vector<DamageEdit>& edits = d.edits;

    // One run of one random value, anywhere inside a block of the list.
    const auto singleRun = [&](const std::vector<size_t>& blocks) {
        if (blocks.empty()) return false;
        const size_t block = pick(rng, blocks);
        const size_t at = insideBlock(rng, clean, block);
        const int value = runValue(rng);
        edits.push_back(run(clean, block, at, logUniform(rng, kLongestRun, leastRun), value));
        return true;
    };
    // `count` runs at different places inside one packet.
    const auto runsInOnePacket = [&](size_t count) {
        std::vector<size_t> blocks;
        for (size_t i : targets.data()) {
            if (Targets::blockEnd(clean, i) - clean.blocks[i].offset >= kLengthFieldEnd + count)
                blocks.push_back(i);
        }
        if (blocks.empty()) return false;
        const size_t block = pick(rng, blocks);
        std::set<size_t> places;
        while (places.size() < count) places.insert(insideBlock(rng, clean, block));
        for (size_t at : places) {
            const int value = static_cast<int>(below(rng, 256));
            edits.push_back(
                run(clean, block, at, logUniform(rng, kLongestShortRun, leastRun), value));
        }
        return true;
    };
    // A payload byte of a packet of the list, uniformly among that packet's.
    const auto payloadByte = [&](const std::vector<size_t>& blocks, size_t& block) {
        block = pick(rng, blocks);
        return between(rng, clean.blocks[block].offset + targets.payload[block],
                       Targets::blockEnd(clean, block) - 1);
    };

    bool made = false;
    switch (damage) {
        case DamageClass::RunInVideo:
            made = singleRun(targets.video);
            break;
        case DamageClass::RunInAudio:
            made = singleRun(targets.audio);
            break;
        case DamageClass::RunInPadding:
            made = singleRun(targets.padding);
            break;
        case DamageClass::RunInPackHeader:
            made = singleRun(targets.packs);
            break;
        case DamageClass::TwoRuns:
            made = runsInOnePacket(2);
            break;
        case DamageClass::ThreeRuns:
            made = runsInOnePacket(3);
            break;
        case DamageClass::RunBesideEqualByte: {
            const std::vector<size_t> blocks = targets.withPayload(targets.data());
            if (blocks.empty()) break;
            size_t block = 0;
            const size_t byte = payloadByte(blocks, block);
            const size_t at = byte + below(rng, 2);  // in front of it or behind it
            const int value = clean.bytes[byte];
            edits.push_back(run(clean, block, at, logUniform(rng, kLongestRun, leastRun), value));
            made = true;
            break;
        }
        case DamageClass::RandomInAudio:
        case DamageClass::RandomInVideo: {
            const std::vector<size_t> blocks = damage == DamageClass::RandomInAudio
                                                   ? targets.mpegAudio
                                                   : targets.withPayload(targets.video);
            if (blocks.empty()) break;
            size_t block = 0;
            const size_t at = payloadByte(blocks, block);
            const size_t length = logUniform(rng, kLongestShortRun);
            edits.push_back(insertion(clean, block, at, randomBytes(rng, length), -1));
            made = true;
            break;
        }
        case DamageClass::Deletion: {
            const std::vector<size_t> blocks = targets.withPayload(targets.data());
            if (blocks.empty()) break;
            const size_t block = pick(rng, blocks);
            const size_t begin = clean.blocks[block].offset + targets.payload[block];
            const size_t end = Targets::blockEnd(clean, block);
            const size_t length = logUniform(rng, std::min(kLongestDeletion, end - begin));
            DamageEdit e;
            e.kind = DamageEdit::Kind::Delete;
            e.at = between(rng, begin, end - length);
            e.bytes.assign(clean.bytes.begin() + static_cast<ptrdiff_t>(e.at),
                           clean.bytes.begin() + static_cast<ptrdiff_t>(e.at + length));
            e.block = block;
            e.code = clean.blocks[block].code;
            edits.push_back(std::move(e));
            made = true;
            break;
        }
        case DamageClass::Truncation: {
            const size_t size = clean.bytes.size();
            if (size < 10 || clean.blocks.empty()) break;
            DamageEdit e;
            e.kind = DamageEdit::Kind::Truncate;
            e.at = between(rng, size - size / 10, size - 1);
            e.bytes.assign(clean.bytes.begin() + static_cast<ptrdiff_t>(e.at), clean.bytes.end());
            // The block the cut falls into: the last that begins at or before it.
            const auto after =
                std::upper_bound(clean.blocks.begin(), clean.blocks.end(), e.at,
                                 [](size_t at, const BlockRecord& b) { return at < b.offset; });
            e.block = static_cast<size_t>(after - clean.blocks.begin()) - 1;
            e.code = clean.blocks[e.block].code;
            edits.push_back(std::move(e));
            made = true;
            break;
        }
        case DamageClass::FiftyRuns: {
            std::vector<size_t> blocks = targets.data();
            blocks.insert(blocks.end(), targets.padding.begin(), targets.padding.end());
            std::sort(blocks.begin(), blocks.end());
            if (blocks.size() < kRunsInOneFile) break;
            // The first kRunsInOneFile of a shuffle: each packet at most once.
            for (size_t k = 0; k < kRunsInOneFile; ++k)
                std::swap(blocks[k], blocks[k + below(rng, blocks.size() - k)]);
            blocks.resize(kRunsInOneFile);
            for (size_t block : blocks) {
                const size_t at = insideBlock(rng, clean, block);
                const int value = runValue(rng);
                edits.push_back(
                    run(clean, block, at, logUniform(rng, kLongestRun, leastRun), value));
            }
            made = true;
            break;
        }
    }
    if (!made) return std::nullopt;
    std::sort(edits.begin(), edits.end(),
              [](const DamageEdit& a, const DamageEdit& b) { return a.at < b.at; });
    d.bytes = applyEdits(clean.bytes, edits);
    return d;
}

size_t damagedPosition(const DamagedStream& d, size_t k) {
    size_t at = d.edits[k].at;
    for (size_t j = 0; j < k; ++j) {
        const DamageEdit& e = d.edits[j];
        if (e.kind == DamageEdit::Kind::Insert) at += e.bytes.size();
        if (e.kind == DamageEdit::Kind::Delete) at -= e.bytes.size();
    }
    return at;
}

std::vector<uint8_t> undoDamage(const DamagedStream& d) {
    std::vector<uint8_t> out;
    size_t from = 0;
    for (size_t k = 0; k < d.edits.size(); ++k) {
        const DamageEdit& e = d.edits[k];
        const size_t at = damagedPosition(d, k);
        // A ground truth that does not fit the bytes undoes nothing.
        if (at < from || at > d.bytes.size() ||
            (e.kind == DamageEdit::Kind::Insert && at + e.bytes.size() > d.bytes.size())) {
            return {};
        }
        out.insert(out.end(), d.bytes.begin() + static_cast<ptrdiff_t>(from),
                   d.bytes.begin() + static_cast<ptrdiff_t>(at));
        if (e.kind == DamageEdit::Kind::Insert) {
            from = at + e.bytes.size();
        } else {
            out.insert(out.end(), e.bytes.begin(), e.bytes.end());
            from = at;
        }
    }
    out.insert(out.end(), d.bytes.begin() + static_cast<ptrdiff_t>(from), d.bytes.end());
    return out;
}

}  // namespace mpg::test
