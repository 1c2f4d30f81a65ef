// The checks of the audio frames, on the fixture streams: clean streams give
// no finding, and a bit flipped in an audio payload gives what the bit hit
// calls for, as a model of the frames tells it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>

#include "analysis/scan.h"
#include "model/audio_frames.h"
#include "support/damage.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

std::vector<Finding> findingsOf(const std::string& path) {
    AppState state;
    test::RecordingSink sink;
    EXPECT_EQ(state.view.openStream(path), OpenStatus::Opened) << path;
    EXPECT_FALSE(scanStream(state, sink));
    state.view.closeFile();
    return state.findings.items();
}

// One audio stream of a clean fixture: its frames' bytes, the file position
// of each byte, where the frames begin, and its packets.
struct AudioStream {
    bool ac3 = false;
    std::vector<uint8_t> bytes;
    std::vector<size_t> at;
    std::vector<size_t> frames;
    std::vector<const BlockRecord*> packets;
    std::vector<size_t> payloads;  // each packet's first byte of frames
};

std::optional<std::pair<uint32_t, uint32_t>> frameAt(const AudioStream& s, size_t k) {
    if (s.ac3) {
        const auto h = parseAc3FrameHeader(s.bytes.data() + k);
        return h ? std::optional(std::pair(h->length, uint32_t{h->fscod})) : std::nullopt;
    }
    const auto h = parseAudioFrameHeader(s.bytes.data() + k);
    return h ? std::optional(std::pair(h->length, h->fixedBits)) : std::nullopt;
}

std::vector<AudioStream> audioStreams(const test::CleanStream& clean) {
    std::map<uint32_t, AudioStream> streams;
    for (const BlockRecord& b : clean.blocks) {
        const uint8_t* packet = clean.bytes.data() + b.offset;
        const uint32_t id = b.code & 0xFF;
        const auto start = packetPayloadStart(packet, static_cast<uint32_t>(b.declaredSize));
        if (!start || *start >= uint32_t(b.declaredSize)) continue;
        const bool ac3 = id == 0xBD && packet[*start] >= 0x80 && packet[*start] <= 0x87;
        if (!ac3 && (id < 0xC0 || id > 0xDF)) continue;
        AudioStream& s = streams[id << 8 | (ac3 ? packet[*start] : 0)];
        s.ac3 = ac3;
        s.packets.push_back(&b);
        s.payloads.push_back(b.offset + *start + (ac3 ? 4 : 0));
        for (size_t k = s.payloads.back(); k < b.offset + size_t(b.declaredSize); ++k) {
            s.bytes.push_back(clean.bytes[k]);
            s.at.push_back(k);
        }
    }
    std::vector<AudioStream> out;
    for (auto& [key, s] : streams) {
        for (size_t k = 0; k + 8 <= s.bytes.size();) {
            const auto f = frameAt(s, k);
            const auto n =
                f && k + f->first + 8 <= s.bytes.size() ? frameAt(s, k + f->first) : std::nullopt;
            if ((n && n->second == f->second) || (!s.frames.empty() && f)) {
                s.frames.push_back(k);
                k += f->first;
            } else {
                ++k;
            }
        }
        out.push_back(std::move(s));
    }
    return out;
}

const std::vector<std::string> kFixtures = {
    "av.mpg",         "dvd.mpg",      "no-system-header.mpg", "svcd-mplex.mpg",
    "two-audio.mpg",  "vcd-2324.mpg", "vcd-mplex.mpg",        "vcd.mpg",
    "video-only.mpg", "vob.mpg",      "mp2-crc.mpg",          "vcd-mplex.dat"};

TEST(AudioCheck, CleanFixturesGiveNoFinding) {
    for (const std::string& name : kFixtures) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(findingsOf(test::fixture(name)).empty());
    }
}

// What a bit flipped at byte k of a frame calls for.
enum class Expect { Nothing, Damage, Crc, Either };

Expect expectFlip(const AudioStream& s, size_t frame, size_t k, uint8_t mask) {
    if (s.ac3) return Expect::Damage;  // the CRCs cover every bit but the sync word's
    const size_t begin = s.frames[frame], offset = k - begin;
    std::array<uint8_t, 4> head;
    std::copy_n(s.bytes.begin() + static_cast<ptrdiff_t>(begin), 4, head.begin());
    const auto clean = parseAudioFrameHeader(head.data());
    if (offset < 4) head[offset] ^= mask;
    const auto h = parseAudioFrameHeader(head.data());
    // A header that still leads to a frame of the chain keeps the chain.
    if (!h || h->fixedBits != clean->fixedBits ||
        !std::binary_search(s.frames.begin(), s.frames.end(), begin + h->length)) {
        return Expect::Damage;
    }
    if (h->crc && offset < 8) return Expect::Crc;  // the header's last bytes, the CRC, allocations
    return clean->crc && offset < 48 ? Expect::Either : Expect::Nothing;
}

TEST(AudioCheck, BitFlipsGiveWhatTheBitHitCallsFor) {
    std::mt19937 random(20261209);
    test::TempDir dir;
    for (const char* name : {"av.mpg", "dvd.mpg", "vcd.mpg", "svcd-mplex.mpg", "mp2-crc.mpg"}) {
        const auto clean = test::loadCleanStream(test::fixture(name));
        ASSERT_TRUE(clean) << name;
        const std::vector<AudioStream> streams = audioStreams(*clean);
        ASSERT_FALSE(streams.empty()) << name;
        for (int trial = 0; trial < 24; ++trial) {
            const AudioStream& s = streams[random() % streams.size()];
            ASSERT_GT(s.frames.size(), 8u);
            // Not the first frames or the last: a chain begins where two
            // headers lead one to the other, and the last leads nowhere.
            const size_t frame = 2 + random() % (s.frames.size() - 5);
            // Every other flip among the header, the CRC and what it covers.
            const size_t length = s.frames[frame + 1] - s.frames[frame];
            const size_t k = s.frames[frame] + random() % (trial % 2 == 0 ? 10 : length);
            const uint8_t mask = static_cast<uint8_t>(1u << (random() % 8));
            const Expect expect = expectFlip(s, frame, k, mask);
            std::vector<uint8_t> bytes = clean->bytes;
            bytes[s.at[k]] ^= mask;
            const std::vector<Finding> found = findingsOf(dir.write("flip.mpg", bytes));
            SCOPED_TRACE(::testing::Message() << name << " flip at " << s.at[k] << " mask "
                                              << int(mask) << " expect " << int(expect));
            const auto covers = [&](const Finding& f) {
                return f.kind == FindingKind::PayloadDamage && f.begin <= s.at[k] &&
                       s.at[k] < f.end;
            };
            EXPECT_TRUE(std::all_of(found.begin(), found.end(), covers));
            if (expect == Expect::Nothing) {
                EXPECT_TRUE(found.empty());
            }
            if (expect == Expect::Damage) {
                EXPECT_FALSE(found.empty());
            }
            if (expect == Expect::Crc) {
                EXPECT_TRUE(std::any_of(found.begin(), found.end(), [&](const Finding& f) {
                    return f.cause == FindingCause::AudioCrc;
                }));
            }
        }
    }
}

// PTS moved by three frames from one packet on: frames lost there, or a
// seam where the clock goes back; one gap from the end of the stream's
// payload before that packet to its first byte of frames.
TEST(AudioCheck, StampsThatSkipTheFramesAreGaps) {
    test::TempDir dir;
    for (const char* name : {"av.mpg", "dvd.mpg"}) {
        const auto clean = test::loadCleanStream(test::fixture(name));
        ASSERT_TRUE(clean) << name;
        const AudioStream s = audioStreams(*clean).front();
        const int64_t frames3 = s.ac3 ? 3 * 2880 : 3 * 1152 * 90000 / 44100;
        size_t from = s.packets.size() / 2;
        for (int sign : {1, -1}) {
            SCOPED_TRACE(::testing::Message() << name << " shift " << sign);
            std::vector<uint8_t> bytes = clean->bytes;
            std::optional<size_t> first;
            for (size_t p = from; p < s.packets.size(); ++p) {
                uint8_t* packet = bytes.data() + s.packets[p]->offset;
                const auto layout = parsePacketHeader(packet, 64);
                if (!layout || layout->ptsAt == 0) continue;
                if (!first) first = p;
                writeTimeStamp(packet + layout->ptsAt,
                               static_cast<uint64_t>(int64_t(layout->pts) + sign * frames3));
            }
            ASSERT_TRUE(first);
            const std::vector<Finding> found = findingsOf(dir.write("stamps.mpg", bytes));
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0].kind, FindingKind::Gap);
            EXPECT_EQ(found[0].cause, sign > 0 ? FindingCause::StampJump : FindingCause::StampBack);
            EXPECT_EQ(found[0].frames, sign > 0 ? 3u : 0u);
            const BlockRecord& before = *s.packets[*first - 1];
            EXPECT_EQ(found[0].begin, before.offset + Position(before.declaredSize));
            EXPECT_EQ(found[0].end, s.payloads[*first]);
            EXPECT_NEAR(double(found[0].timeTo - found[0].timeFrom), double(sign * frames3), 2);
        }
    }
}

}  // namespace
}  // namespace mpg
