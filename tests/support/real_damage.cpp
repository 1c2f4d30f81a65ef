#include "support/real_damage.h"

#include <algorithm>
#include <map>
#include <set>

#include "join/clock.h"
#include "stream/cdxa.h"
#include "support/damage.h"
#include "support/draws.h"
#include "support/temp_dir.h"

namespace mpg::test {

namespace {

using Bytes = std::vector<uint8_t>;

Bytes slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from),
                 bytes.begin() + static_cast<ptrdiff_t>(from + count));
}

Splice replaced(const Bytes& clean, size_t at, Bytes after, std::string what) {
    Splice s;
    s.in = at;
    s.before = slice(clean, at, std::min(after.size(), clean.size() - at));
    s.after = std::move(after);
    s.after.resize(s.before.size());
    s.what = std::move(what);
    return s;
}

Splice removed(const Bytes& clean, size_t at, size_t count, std::string what) {
    Splice s;
    s.in = at;
    s.before = slice(clean, at, count);
    s.what = std::move(what);
    return s;
}

Splice inserted(size_t at, Bytes after, std::string what) {
    Splice s;
    s.in = at;
    s.after = std::move(after);
    s.what = std::move(what);
    return s;
}

// The file's sectors: how many whole or partial ones, and where each begins.
size_t sectorCount(const SourceFile& f) {
    return (f.bytes.size() - f.sectorStart + f.sectorSize - 1) / f.sectorSize;
}
size_t sectorAt(const SourceFile& f, size_t k) {
    return f.sectorStart + k * f.sectorSize;
}

size_t blockEnd(const SourceFile& f, size_t i) {
    const BlockRecord& b = f.blocks[i];
    return std::min(f.bytes.size(), static_cast<size_t>(b.offset) +
                                        static_cast<size_t>(std::max(b.declaredSize, 0)));
}

// Bytes of a cluster of some other file: half of the time text, as a log or
// a subtitle file holds, else the bytes of a compressed file.
Bytes foreignCluster(std::mt19937_64& rng, size_t count) {
    if (below(rng, 2) == 0) return randomBytes(rng, count);
    static const char kWords[] = "the of and stream 00:01:02,500 --> subtitle frame\r\n";
    Bytes text(count);
    for (uint8_t& b : text) b = static_cast<uint8_t>(kWords[below(rng, sizeof kWords - 1)]);
    return text;
}

// A CD drive's misread: a burst of up to 512 bytes changed inside one
// sector's data. In a rip the sector's EDC then fails.
bool cdMisread(const SourceFile& f, std::mt19937_64& rng, std::vector<Splice>& out) {
    const size_t sectors = sectorCount(f);
    if (sectors == 0) return false;
    const size_t k = below(rng, sectors);
    size_t from = sectorAt(f, k);
    size_t end = std::min(f.bytes.size(), from + f.sectorSize);
    if (f.rip) {
        end = std::min(end, from + kCdSectorSize - 4);  // up to the EDC
        from += 24;                                     // behind sync, header, subheader
    }
    if (end <= from) return false;
    const size_t length = logUniform(rng, std::min<size_t>(512, end - from));
    const size_t at = between(rng, from, end - length);
    Bytes bytes = slice(f.bytes, at, length);
    for (uint8_t& b : bytes) b ^= static_cast<uint8_t>(1 + below(rng, 255));
    out.push_back(
        replaced(f.bytes, at, std::move(bytes), "sector " + std::to_string(k) + " misread"));
    return true;
}

size_t downloadChunk(std::mt19937_64& rng) {
    static constexpr size_t kChunks[] = {4096, 16384, 65536};
    return kChunks[below(rng, 3)];
}

// One to three chunks of a download never written: zeros, each at a
// multiple of the chunk size, never the first.
bool zeroHoles(const SourceFile& f, std::mt19937_64& rng, std::vector<Splice>& out) {
    const size_t chunk = downloadChunk(rng);
    const size_t chunks = (f.bytes.size() + chunk - 1) / chunk;
    if (chunks < 2) return false;
    std::set<size_t> picked;
    const size_t want = std::min<size_t>(between(rng, 1, 3), chunks - 1);
    while (picked.size() < want) picked.insert(between(rng, 1, chunks - 1));
    for (size_t c : picked) {
        const size_t at = c * chunk;
        out.push_back(replaced(f.bytes, at, Bytes(std::min(chunk, f.bytes.size() - at), 0),
                               std::to_string(chunk / 1024) + " KiB chunk zero"));
    }
    return true;
}

// A download that stopped: from a chunk in the middle of the file on, every
// byte is still zero.
bool stoppedDownload(const SourceFile& f, std::mt19937_64& rng, std::vector<Splice>& out) {
    const size_t chunk = downloadChunk(rng);
    const size_t chunks = f.bytes.size() / chunk;
    if (chunks < 2) return false;
    const size_t at = between(rng, std::max<size_t>(1, chunks / 10), chunks - 1) * chunk;
    out.push_back(replaced(f.bytes, at, Bytes(f.bytes.size() - at, 0), "the rest zero"));
    return true;
}

// One to three runs of one to eight whole sectors left out, never the first.
bool lostSectors(const SourceFile& f, std::mt19937_64& rng, std::vector<Splice>& out) {
    const size_t sectors =
        f.bytes.size() >= f.sectorStart ? (f.bytes.size() - f.sectorStart) / f.sectorSize : 0;
    if (sectors < 4) return false;
    std::map<size_t, size_t> runs;  // first sector, count
    const size_t want = between(rng, 1, 3);
    for (size_t n = 0; n < want; ++n) {
        const size_t first = between(rng, 1, sectors - 1);
        const size_t count = std::min(between(rng, 1, 8), sectors - first);
        // Runs that would touch or overlap another are left out.
        bool clear = true;
        for (const auto& [at, c] : runs) clear = clear && (first > at + c || first + count < at);
        if (clear) runs.emplace(first, count);
    }
    for (const auto& [first, count] : runs) {
        out.push_back(
            removed(f.bytes, sectorAt(f, first), count * f.sectorSize,
                    std::to_string(count) + " sectors from " + std::to_string(first) + " lost"));
    }
    return true;
}

// A 4 KiB cluster of another file, at a cluster's place in the file: over
// the stream, or inserted into it.
bool cluster(const SourceFile& f, std::mt19937_64& rng, bool over, std::vector<Splice>& out) {
    constexpr size_t kCluster = 4096;
    const size_t clusters = f.bytes.size() / kCluster;
    if (clusters < 2) return false;
    const size_t at = between(rng, 1, clusters - 1) * kCluster;
    Bytes bytes = foreignCluster(rng, kCluster);
    out.push_back(over ? replaced(f.bytes, at, std::move(bytes), "cluster over")
                       : inserted(at, std::move(bytes), "cluster inserted"));
    return true;
}

bool bitFlips(const SourceFile& f, std::mt19937_64& rng, std::vector<Splice>& out) {
    if (f.bytes.empty()) return false;
    std::map<size_t, uint8_t> masks;
    const size_t want = between(rng, 1, 16);
    std::set<std::pair<size_t, unsigned>> bits;
    while (bits.size() < want) {
        bits.emplace(below(rng, f.bytes.size()), static_cast<unsigned>(below(rng, 8)));
    }
    for (const auto& [at, bit] : bits) masks[at] |= static_cast<uint8_t>(1U << bit);
    for (const auto& [at, mask] : masks) {
        out.push_back(
            replaced(f.bytes, at, {static_cast<uint8_t>(f.bytes[at] ^ mask)}, "bits flipped"));
    }
    return true;
}

bool cutShort(const SourceFile& f, std::mt19937_64& rng, std::vector<Splice>& out) {
    if (f.bytes.size() < 20) return false;
    const size_t at = between(rng, f.bytes.size() / 10, f.bytes.size() - 1);
    out.push_back(removed(f.bytes, at, f.bytes.size() - at, "cut short"));
    return true;
}

// The first download ends at one byte, the second begins at a later one:
// what lies between is lost.
bool twoDownloads(const SourceFile& f, std::mt19937_64& rng, std::vector<Splice>& out) {
    const size_t size = f.bytes.size();
    if (size < 20) return false;
    const size_t cut = between(rng, size / 10, size * 8 / 10);
    const size_t resume = between(rng, cut + 1, cut + (size - cut) * 9 / 10);
    out.push_back(
        removed(f.bytes, cut, resume - cut, "second download from " + std::to_string(resume)));
    return true;
}

// The splices that turn `clean` into `changed` over the same span: one per
// run of differing bytes.
void differences(const Bytes& clean, size_t from, const Bytes& changed, const std::string& what,
                 std::vector<Splice>& out) {
    for (size_t k = 0; k < changed.size();) {
        if (changed[k] == clean[from + k]) {
            ++k;
            continue;
        }
        size_t end = k;
        while (end < changed.size() && changed[end] != clean[from + end]) ++end;
        out.push_back(replaced(clean, from + k, slice(changed, k, end - k), what));
        k = end;
    }
}

// A recording interrupted and resumed: the recorder stops at a block's start
// or inside a block, loses what went on meanwhile, and starts again at a
// later pack with its clock moved on by 1 to 600 seconds.
bool resumed(const SourceFile& f, std::mt19937_64& rng, bool atBlock, std::vector<Splice>& out) {
    std::vector<size_t> packs;
    for (size_t i = 0; i < f.blocks.size(); ++i) {
        if (f.blocks[i].code == kPackStartCode) packs.push_back(i);
    }
    if (f.rip || packs.size() < 8) return false;
    // Stop in the second to the sixth tenth of the blocks, and resume one to
    // a tenth of the packs later.
    const size_t n = f.blocks.size();
    const size_t stopBlock = between(rng, n / 10 + 1, n * 6 / 10);
    const size_t stop =
        atBlock ? f.blocks[stopBlock].offset
                : between(rng, f.blocks[stopBlock].offset + 1, blockEnd(f, stopBlock) - 1);
    const auto nextPack = std::upper_bound(packs.begin(), packs.end(), stopBlock);
    if (nextPack == packs.end()) return false;
    const size_t skip = std::min<size_t>(between(rng, 0, packs.size() / 10),
                                         static_cast<size_t>(packs.end() - nextPack) - 1);
    const size_t resumeBlock = *(nextPack + static_cast<ptrdiff_t>(skip));
    const size_t resume = f.blocks[resumeBlock].offset;
    out.push_back(removed(f.bytes, stop, resume - stop, "recording stopped"));
    const uint64_t jump = between(rng, 1, 600) * 90'000 + below(rng, 90'000);
    const std::string what = "clock +" + std::to_string(jump) + " ticks";
    for (size_t i = resumeBlock; i < n; ++i) {
        const size_t at = f.blocks[i].offset;
        Bytes block = slice(f.bytes, at, blockEnd(f, i) - at);
        if (f.blocks[i].code == kPackStartCode) {
            if (block.size() >= 12) shiftPackScr(block.data(), jump);
        } else if (block.size() > static_cast<size_t>(kLengthFieldEnd)) {
            shiftPacketStamps(block.data(), static_cast<uint32_t>(block.size()), jump);
        }
        differences(f.bytes, at, block, what, out);
    }
    return true;
}

Bytes text(const std::string& s, size_t width) {
    Bytes b(s.begin(), s.end());
    b.resize(width, 0);
    return b;
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

void appendLittle32(Bytes& to, uint32_t v) {
    for (int k = 0; k < 4; ++k) to.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

// An ID3v2.3 tag: title and artist frames, a cover picture of random bytes
// of up to 256 KiB half of the time, and padding.
Bytes id3v2Tag(std::mt19937_64& rng) {
    Bytes frames;
    const auto frame = [&](const char* id, const Bytes& body) {
        append(frames, Bytes(id, id + 4));
        const auto size = static_cast<uint32_t>(body.size());
        for (int k = 3; k >= 0; --k) frames.push_back(static_cast<uint8_t>(size >> (8 * k)));
        append(frames, {0, 0});
        append(frames, body);
    };
    frame("TIT2", text(std::string(1, '\0') + "Recording " + std::to_string(below(rng, 1000)), 24));
    frame("TPE1", text(std::string(1, '\0') + "Artist", 8));
    if (below(rng, 2) == 0) {
        Bytes picture = text(std::string(1, '\0') + "image/jpeg", 13);
        append(picture, {3, 0, 0xFF, 0xD8, 0xFF, 0xE0});
        append(picture, randomBytes(rng, logUniform(rng, 256 * 1024, 1024)));
        frame("APIC", picture);
    }
    frames.resize(frames.size() + logUniform(rng, 4096), 0);
    Bytes tag = {'I', 'D', '3', 3, 0, 0};
    const auto size = static_cast<uint32_t>(frames.size());
    for (int k = 3; k >= 0; --k) tag.push_back(static_cast<uint8_t>((size >> (7 * k)) & 0x7F));
    append(tag, frames);
    return tag;
}

Bytes id3v1Tag(std::mt19937_64& rng) {
    Bytes tag = text("TAG", 3);
    append(tag, text("Recording " + std::to_string(below(rng, 1000)), 30));
    append(tag, text("Artist", 30));
    append(tag, text("Album", 30));
    append(tag, text("2004", 4));
    append(tag, text("", 30));
    tag.push_back(static_cast<uint8_t>(below(rng, 148)));
    return tag;
}

// An APEv2 tag: header, items, footer; the two differ in one flag.
Bytes apeTag(std::mt19937_64& rng) {
    Bytes items;
    const auto item = [&](const std::string& key, const std::string& value) {
        appendLittle32(items, static_cast<uint32_t>(value.size()));
        appendLittle32(items, 0);
        append(items, text(key, key.size() + 1));
        append(items, Bytes(value.begin(), value.end()));
    };
    item("Title", "Recording " + std::to_string(below(rng, 1000)));
    item("Artist", "Artist");
    const auto headerOrFooter = [&](bool header) {
        Bytes b = text("APETAGEX", 8);
        appendLittle32(b, 2000);
        appendLittle32(b, static_cast<uint32_t>(items.size() + 32));
        appendLittle32(b, 2);
        appendLittle32(b, (1U << 31) | (header ? 1U << 29 : 0U));
        b.resize(b.size() + 8, 0);
        return b;
    };
    Bytes tag = headerOrFooter(true);
    append(tag, items);
    append(tag, headerOrFooter(false));
    return tag;
}

// An ASCII transfer: each LF written as CR LF, or each CR LF as LF.
bool asciiTransfer(const SourceFile& f, bool toCrlf, std::vector<Splice>& out) {
    const Bytes& b = f.bytes;
    for (size_t k = 0; k < b.size(); ++k) {
        if (toCrlf && b[k] == '\n') out.push_back(inserted(k, {'\r'}, "CR before LF"));
        if (!toCrlf && b[k] == '\r' && k + 1 < b.size() && b[k + 1] == '\n')
            out.push_back(removed(b, k, 1, "CR of CR LF"));
    }
    return !out.empty();
}

// The repair generator's runs inside packets, as splices.
bool runsInPackets(const SourceFile& f, std::mt19937_64& rng, std::vector<Splice>& out) {
    if (f.rip) return false;
    static constexpr DamageClass kRuns[] = {DamageClass::RunInVideo, DamageClass::RunInAudio,
                                            DamageClass::TwoRuns, DamageClass::FiftyRuns};
    const CleanStream clean{f.name, f.bytes, f.blocks};
    const std::optional<DamagedStream> d = damageStream(clean, kRuns[below(rng, 4)], rng);
    if (!d) return false;
    for (const DamageEdit& e : d->edits) {
        const std::string what = damageClassText(d->damage);
        if (e.kind == DamageEdit::Kind::Insert) {
            out.push_back(inserted(e.at, e.bytes, what));
        } else {
            out.push_back(removed(f.bytes, e.at, e.bytes.size(), what));
        }
    }
    return true;
}

bool makeSplices(const SourceFile& f, RealDamage damage, std::mt19937_64& rng,
                 std::vector<Splice>& out) {
    switch (damage) {
        case RealDamage::CdMisread:
            return cdMisread(f, rng, out);
        case RealDamage::ZeroHoles:
            return zeroHoles(f, rng, out);
        case RealDamage::StoppedDownload:
            return stoppedDownload(f, rng, out);
        case RealDamage::LostSectors:
            return lostSectors(f, rng, out);
        case RealDamage::ClusterOver:
        case RealDamage::ClusterInserted:
            return cluster(f, rng, damage == RealDamage::ClusterOver, out);
        case RealDamage::BitFlips:
            return bitFlips(f, rng, out);
        case RealDamage::CutShort:
            return cutShort(f, rng, out);
        case RealDamage::TwoDownloads:
            return twoDownloads(f, rng, out);
        case RealDamage::ResumedAtPacket:
        case RealDamage::ResumedInside:
            return resumed(f, rng, damage == RealDamage::ResumedAtPacket, out);
        case RealDamage::Id3v2Front:
            out.push_back(inserted(0, id3v2Tag(rng), "ID3v2 tag"));
            return true;
        case RealDamage::Id3v2Over: {
            Bytes tag = id3v2Tag(rng);
            if (tag.size() >= f.bytes.size()) return false;
            out.push_back(replaced(f.bytes, 0, std::move(tag), "ID3v2 tag over"));
            return true;
        }
        case RealDamage::Id3v1End:
            out.push_back(inserted(f.bytes.size(), id3v1Tag(rng), "ID3v1 tag"));
            return true;
        case RealDamage::ApeEnd:
            out.push_back(inserted(f.bytes.size(), apeTag(rng), "APE tag"));
            return true;
        case RealDamage::LfToCrlf:
        case RealDamage::CrlfToLf:
            return asciiTransfer(f, damage == RealDamage::LfToCrlf, out);
        case RealDamage::RunsInPackets:
            return runsInPackets(f, rng, out);
    }
    return false;
}

}  // namespace

const char* realDamageName(RealDamage d) {
    switch (d) {
        case RealDamage::CdMisread:
            return "CdMisread";
        case RealDamage::ZeroHoles:
            return "ZeroHoles";
        case RealDamage::StoppedDownload:
            return "StoppedDownload";
        case RealDamage::LostSectors:
            return "LostSectors";
        case RealDamage::ClusterOver:
            return "ClusterOver";
        case RealDamage::ClusterInserted:
            return "ClusterInserted";
        case RealDamage::BitFlips:
            return "BitFlips";
        case RealDamage::CutShort:
            return "CutShort";
        case RealDamage::TwoDownloads:
            return "TwoDownloads";
        case RealDamage::ResumedAtPacket:
            return "ResumedAtPacket";
        case RealDamage::ResumedInside:
            return "ResumedInside";
        case RealDamage::Id3v2Front:
            return "Id3v2Front";
        case RealDamage::Id3v2Over:
            return "Id3v2Over";
        case RealDamage::Id3v1End:
            return "Id3v1End";
        case RealDamage::ApeEnd:
            return "ApeEnd";
        case RealDamage::LfToCrlf:
            return "LfToCrlf";
        case RealDamage::CrlfToLf:
            return "CrlfToLf";
        case RealDamage::RunsInPackets:
            return "RunsInPackets";
    }
    return "";
}

std::optional<SourceFile> loadSourceFile(const std::string& path) {
    const std::optional<CleanStream> clean = loadCleanStream(path);
    if (!clean) return std::nullopt;
    SourceFile f;
    f.name = clean->name;
    f.bytes = clean->bytes;
    const std::optional<Position> data = cdxaDataOffset(f.bytes.data(), f.bytes.size());
    if (data) {
        // The blocks lie in the sectors' payloads, not at file positions.
        f.rip = true;
        f.sectorStart = static_cast<size_t>(*data);
        f.sectorSize = kCdSectorSize;
        return f;
    }
    f.blocks = clean->blocks;
    // Packs that all stand at multiples of 2,324 bytes are a video CD's
    // sectors; any other stream is cut into 2,048-byte sectors.
    size_t packs = 0;
    bool cd = true;
    for (const BlockRecord& b : f.blocks) {
        if (b.code != kPackStartCode) continue;
        ++packs;
        cd = cd && b.offset % 2324 == 0;
    }
    f.sectorSize = cd && packs > 1 ? 2324 : 2048;
    return f;
}

std::optional<RealDamaged> damageFile(const SourceFile& source, RealDamage damage,
                                      std::mt19937_64& rng) {
    RealDamaged d;
    d.damage = damage;
    if (!makeSplices(source, damage, rng, d.splices) || d.splices.empty()) return std::nullopt;
    std::stable_sort(d.splices.begin(), d.splices.end(),
                     [](const Splice& a, const Splice& b) { return a.in < b.in; });
    // Where each lands in the copy: behind what the ones before it added or took.
    ptrdiff_t shift = 0;
    for (Splice& s : d.splices) {
        s.out = static_cast<size_t>(static_cast<ptrdiff_t>(s.in) + shift);
        shift += static_cast<ptrdiff_t>(s.after.size()) - static_cast<ptrdiff_t>(s.before.size());
    }
    d.bytes = applySplices(source.bytes, d.splices);
    if (d.bytes.empty()) return std::nullopt;
    return d;
}

namespace {

// One side of the splices: from `from` (the clean bytes or the copy) to the
// other, taking each splice's `take` span at its `at` position there and
// putting `put` in its place. Empty when a splice does not fit.
template <typename At, typename Take, typename Put>
Bytes rewrite(const Bytes& from, const std::vector<Splice>& splices, At at, Take take, Put put) {
    Bytes out;
    out.reserve(from.size());
    size_t done = 0;
    for (const Splice& s : splices) {
        const size_t p = at(s);
        const Bytes& gone = take(s);
        if (p < done || p + gone.size() > from.size() ||
            !std::equal(gone.begin(), gone.end(), from.begin() + static_cast<ptrdiff_t>(p))) {
            return {};
        }
        out.insert(out.end(), from.begin() + static_cast<ptrdiff_t>(done),
                   from.begin() + static_cast<ptrdiff_t>(p));
        append(out, put(s));
        done = p + gone.size();
    }
    out.insert(out.end(), from.begin() + static_cast<ptrdiff_t>(done), from.end());
    return out;
}

}  // namespace

std::vector<uint8_t> applySplices(const std::vector<uint8_t>& clean,
                                  const std::vector<Splice>& splices) {
    return rewrite(
        clean, splices, [](const Splice& s) { return s.in; },
        [](const Splice& s) -> const Bytes& { return s.before; },
        [](const Splice& s) -> const Bytes& { return s.after; });
}

std::vector<uint8_t> undoSplices(const std::vector<uint8_t>& damaged,
                                 const std::vector<Splice>& splices) {
    return rewrite(
        damaged, splices, [](const Splice& s) { return s.out; },
        [](const Splice& s) -> const Bytes& { return s.after; },
        [](const Splice& s) -> const Bytes& { return s.before; });
}

std::string spliceSummary(const std::vector<Splice>& splices, size_t most) {
    std::string line;
    for (size_t k = 0; k < splices.size() && k < most; ++k) {
        const Splice& s = splices[k];
        if (!line.empty()) line += "; ";
        line += std::to_string(s.in) + "@" + std::to_string(s.out) + " -" +
                std::to_string(s.before.size()) + " +" + std::to_string(s.after.size()) + " " +
                s.what;
    }
    if (splices.size() > most) line += "; " + std::to_string(splices.size() - most) + " more";
    return line;
}

}  // namespace mpg::test
