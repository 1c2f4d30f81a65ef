// mpgsynth: writes a large, valid MPEG-1 system stream quickly, for the
// benchmarks, and optionally damages it the way the repair tool expects to
// find streams: runs of zero bytes inserted into packets.
//
//   mpgsynth OUT --size BYTES [--zero-runs N] [--long-run BYTES] [--seed S]
//   mpgsynth OUT --size BYTES --end-codes
//   mpgsynth OUT --size BYTES --broken-packets
//
// The stream is a sequence of 2048-byte packs like a DVD-style program
// stream: a 12-byte pack header, a system header listing 0xE0 and 0xC0 in the
// first pack, then one packet that fills the pack: video (0xE0) in three
// packs of four, audio (0xC0) in the fourth, with a padding packet closing
// every 32nd pack. The stream ends with the end code.
//
// With --end-codes the stream is a hostile one instead: a pack header and a
// system header, then nothing but 4-byte end codes up to the size, each of
// them a block of its own. With --broken-packets every block after the
// headers is broken: empty video packets, each followed by one stray byte, so
// that every one of them is listed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "stream/start_codes.h"

namespace {

struct Options {
    std::string out;
    uint64_t size = 0;
    uint64_t zeroRuns = 0;
    uint64_t longRun = 0;
    uint64_t seed = 1;
    bool endCodes = false;
    bool brokenPackets = false;
};

class Random {
  public:
    explicit Random(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return s_;
    }
    uint64_t below(uint64_t n) { return next() % n; }

  private:
    uint64_t s_;
};

constexpr size_t kPackSize = 2048;

void putCode(std::vector<uint8_t>& out, uint32_t code) {
    out.insert(out.end(), {0x00, 0x00, 0x01, static_cast<uint8_t>(code)});
}

void putLength(std::vector<uint8_t>& out, size_t length) {
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
}

// Payload bytes like compressed data, with no two zero bytes in a row, so
// that no start code appears inside a packet.
void putPayload(std::vector<uint8_t>& out, size_t count, Random& rng) {
    const size_t start = out.size();
    out.resize(start + count);
    uint8_t* p = out.data() + start;
    for (size_t i = 0; i < count; i += 8) {
        const uint64_t r = rng.next();
        std::memcpy(p + i, &r, std::min<size_t>(8, count - i));
    }
    for (size_t i = 1; i < count; ++i) {
        if (p[i] == 0 && p[i - 1] == 0) p[i] = 0x5A;
    }
}

void putPackHeader(std::vector<uint8_t>& out, uint64_t scr) {
    putCode(out, mpg::kPackStartCode);
    out.push_back(static_cast<uint8_t>(0x21 | ((scr >> 29) & 0x0E)));
    out.push_back(static_cast<uint8_t>(scr >> 22));
    out.push_back(static_cast<uint8_t>(((scr >> 14) & 0xFE) | 1));
    out.push_back(static_cast<uint8_t>(scr >> 7));
    out.push_back(static_cast<uint8_t>(((scr << 1) & 0xFE) | 1));
    out.insert(out.end(), {0x80, 0x1B, 0x83});  // mux rate between marker bits
}

void putSystemHeader(std::vector<uint8_t>& out) {
    putCode(out, mpg::kSystemHeaderStartCode);
    putLength(out, 12);
    out.insert(out.end(), {0x80, 0x1B, 0x83, 0x04, 0xE1, 0xFF});
    out.insert(out.end(), {0xE0, 0xE0, 0xE6, 0xC0, 0xC0, 0x20});
}

// Appends one 2048-byte pack; `damage` zero bytes are inserted into its packet
// payload (the packet's length field keeps the undamaged size).
void putPack(std::vector<uint8_t>& out, uint64_t index, uint64_t damage, Random& rng) {
    const size_t begin = out.size();
    putPackHeader(out, index * 1200);
    if (index == 0) putSystemHeader(out);
    const bool padding = index % 32 == 31;
    const size_t room = kPackSize - (out.size() - begin);
    const size_t packet = padding ? room - 206 : room;
    putCode(out, index % 4 == 3 ? 0x1C0 : 0x1E0);
    putLength(out, packet - 6);
    const size_t payload = packet - 6;
    const size_t split = damage ? 1 + rng.below(payload - 1) : payload;
    putPayload(out, split, rng);
    if (damage) {
        if (out.back() == 0) out.back() = 0x5A;  // the run starts exactly where it was inserted
        out.insert(out.end(), damage, 0x00);
        putPayload(out, payload - split, rng);
        // The run ends at a byte that is neither 00 nor 01: "00 00 01" followed
        // by a random byte could otherwise make a false start code.
        uint8_t& after = out[out.size() - (payload - split)];
        if (after < 2) after = 0x5B;
    }
    if (padding) {
        putCode(out, mpg::kPaddingStreamCode);
        putLength(out, 200);
        out.insert(out.end(), 200, 0xFF);
    }
}

// The headers, then one unit after another up to the size: an end code, or
// an empty video packet and a stray byte.
int writeHostile(FILE* f, uint64_t size, bool brokenPackets) {
    std::vector<uint8_t> chunk, unit;
    putPackHeader(chunk, 0);
    putSystemHeader(chunk);
    putCode(unit, brokenPackets ? 0x1E0 : mpg::kEndCode);
    if (brokenPackets) unit.insert(unit.end(), {0x00, 0x00, 0x55});
    // Whole units only.
    const uint64_t total =
        chunk.size() + (size - std::min<uint64_t>(size, chunk.size())) / unit.size() * unit.size();
    for (uint64_t written = 0; written < total; chunk.clear()) {
        while (chunk.size() < (1u << 20)) chunk.insert(chunk.end(), unit.begin(), unit.end());
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), total - written));
        if (std::fwrite(chunk.data(), 1, n, f) != n) return 1;
        written += n;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> uint64_t {
            return i + 1 < argc ? std::strtoull(argv[++i], nullptr, 10) : 0;
        };
        if (a == "--size") {
            o.size = value();
        } else if (a == "--zero-runs") {
            o.zeroRuns = value();
        } else if (a == "--long-run") {
            o.longRun = value();
        } else if (a == "--seed") {
            o.seed = value();
        } else if (a == "--end-codes") {
            o.endCodes = true;
        } else if (a == "--broken-packets") {
            o.brokenPackets = true;
        } else if (o.out.empty() && a[0] != '-') {
            o.out = a;
        } else {
            return false;
        }
    }
    return !o.out.empty() && o.size >= kPackSize;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(
            stderr,
            "usage: mpgsynth OUT --size BYTES [--zero-runs N] [--long-run BYTES] [--seed S]\n"
            "       mpgsynth OUT --size BYTES --end-codes | --broken-packets\n");
        return 2;
    }
    FILE* f = std::fopen(o.out.c_str(), "wb");
    if (f == nullptr) {
        std::perror(o.out.c_str());
        return 1;
    }
    if (o.endCodes || o.brokenPackets) return writeHostile(f, o.size, o.brokenPackets);
    Random rng(o.seed);
    const uint64_t packs = o.size / kPackSize;
    // Damaged packs: evenly spread, the long run in the middle.
    std::set<uint64_t> damaged;
    for (uint64_t k = 0; k < o.zeroRuns && k < packs - 1; ++k)
        damaged.insert(1 + k * (packs - 1) / o.zeroRuns);
    const uint64_t longAt = o.longRun ? packs / 2 : UINT64_MAX;

    std::vector<uint8_t> chunk;
    chunk.reserve(1 << 21);
    for (uint64_t i = 0; i < packs; ++i) {
        uint64_t damage = damaged.count(i) ? 100 + rng.below(4901) : 0;
        if (i == longAt) damage = o.longRun;
        putPack(chunk, i, damage, rng);
        if (chunk.size() >= (1u << 20)) {
            if (std::fwrite(chunk.data(), 1, chunk.size(), f) != chunk.size()) return 1;
            chunk.clear();
        }
    }
    putCode(chunk, mpg::kEndCode);
    if (std::fwrite(chunk.data(), 1, chunk.size(), f) != chunk.size() || std::fclose(f) != 0) {
        std::perror(o.out.c_str());
        return 1;
    }
    return 0;
}
