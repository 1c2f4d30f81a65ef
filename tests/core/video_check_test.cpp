// The check of MPEG video streams, on the video of the fixture streams: the
// elementary stream cut into packets anew at random (start codes split
// across packets, a recording that starts mid-picture, a cut the scan
// lists), bytes changed and pictures taken out, each change judged by what
// it hit.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "analysis/video_check.h"
#include "model/elementary.h"
#include "support/damage.h"
#include "support/scanned.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

const char* const kFixtures[] = {"av.mpg",         "dvd.mpg",       "no-system-header.mpg",
                                 "svcd-mplex.mpg", "two-audio.mpg", "vcd-2324.mpg",
                                 "vcd-mplex.mpg",  "vcd.mpg",       "video-only.mpg",
                                 "vob.mpg"};

// A picture's time stamps, by the offset of its start code in the
// elementary stream.
struct Stamped {
    size_t at = 0;
    std::optional<uint64_t> pts, dts;
};

struct Code {
    size_t at = 0;  // the prefix's first byte
    uint8_t value = 0;
};

struct VideoStream {
    std::vector<uint8_t> bytes;
    std::vector<Stamped> stamps;
};

// The start codes, found byte by byte.
std::vector<Code> codesIn(const std::vector<uint8_t>& b) {
    std::vector<Code> codes;
    for (size_t i = 0; i + 3 < b.size(); ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
            codes.push_back({i, b[i + 3]});
            i += 3;
        }
    }
    return codes;
}

// The video of a fixture as its packets carried it: each packet's stamps
// go to the first picture that begins in its payload.
VideoStream videoOf(const test::CleanStream& clean) {
    VideoStream v;
    struct Range {
        size_t from, to;
        std::optional<uint64_t> pts, dts;
    };
    std::vector<Range> stamped;
    for (const BlockRecord& block : clean.blocks) {
        if (!isVideoCode(block.code)) continue;
        const uint8_t* packet = clean.bytes.data() + block.offset;
        const auto size = static_cast<uint32_t>(block.declaredSize);
        const std::optional<PacketHeaderLayout> h = parsePacketHeader(packet, size);
        if (!h || h->payloadStart >= size) continue;
        const size_t from = v.bytes.size();
        v.bytes.insert(v.bytes.end(), packet + h->payloadStart, packet + size);
        if (h->ptsAt != 0) {
            stamped.push_back({from, v.bytes.size(), h->pts,
                               h->dtsAt != 0 ? std::optional(h->dts) : std::nullopt});
        }
    }
    const std::vector<Code> codes = codesIn(v.bytes);
    for (const Range& r : stamped) {
        for (const Code& c : codes) {
            if (c.value != kPictureCode || c.at < r.from) continue;
            if (c.at < r.to) v.stamps.push_back({c.at, r.pts, r.dts});
            break;
        }
    }
    return v;
}

// The stream fed to a check in packets of random sizes, from packet
// `first` on, with the packets from `cut` on lost behind a broken stretch
// the scan lists. Packets lie 16 bytes apart, as behind their headers.
struct Fed {
    FindingList findings;
    std::vector<std::pair<size_t, Position>> packets;  // offset in the stream, position

    Position positionOf(size_t offset) const {
        auto p = std::upper_bound(packets.begin(), packets.end(), offset,
                                  [](size_t o, const auto& e) { return o < e.first; });
        return std::prev(p)->second + (offset - std::prev(p)->first);
    }
    bool anyCovers(size_t offset, FindingCause cause) const {
        const Position pos = positionOf(offset);
        return std::any_of(findings.items().begin(), findings.items().end(), [&](const auto& f) {
            return f.cause == cause && f.begin <= pos && pos < f.end;
        });
    }
};

struct Feeding {
    size_t first = 0;
    size_t cut = SIZE_MAX;
    size_t lost = 0;
};

void feed(const VideoStream& v, std::mt19937_64& rng, Fed& fed, Feeding how = {}) {
    CheckContext context(fed.findings);
    VideoCheck check(context, 0xE0);
    std::vector<size_t> pictures;
    for (const Code& c : codesIn(v.bytes)) {
        if (c.value == kPictureCode) pictures.push_back(c.at);
    }
    size_t stamp = 0, picture = 0;
    Position end = 0;
    for (size_t at = 0, k = 0; at < v.bytes.size(); ++k) {
        const size_t size =
            std::min(v.bytes.size() - at, rng() % 8 == 0 ? 1 + rng() % 4 : 1 + rng() % 2500);
        Payload p;
        p.packet = at + 16 * k + 100;
        p.at = p.packet + 16;
        p.bytes = v.bytes.data() + at;
        p.size = static_cast<uint32_t>(size);
        // A packet's stamps are those of the first picture that begins in it.
        for (; stamp < v.stamps.size() && v.stamps[stamp].at < at; ++stamp) {
        }
        for (; picture < pictures.size() && pictures[picture] < at; ++picture) {
        }
        if (stamp < v.stamps.size() && picture < pictures.size() &&
            v.stamps[stamp].at == pictures[picture] && pictures[picture] < at + size) {
            p.pts = v.stamps[stamp].pts;
            p.dts = v.stamps[stamp].dts;
        }
        fed.packets.emplace_back(at, p.at);
        at += size;
        if (k < how.first || (k >= how.cut && k < how.cut + how.lost)) continue;
        if (k == how.cut + how.lost && how.cut != SIZE_MAX) check.interrupt(end, p.packet);
        if (p.pts) context.takeClock(*p.pts);
        check.takePayload(p);
        end = p.at + p.size;
    }
    check.finish(end + 4);
}

std::vector<std::pair<std::string, VideoStream>> fixtureVideo() {
    std::vector<std::pair<std::string, VideoStream>> all;
    for (const char* name : kFixtures) {
        const std::optional<test::CleanStream> clean = test::loadCleanStream(test::fixture(name));
        if (!clean) ADD_FAILURE() << name;
        if (!clean) continue;
        all.emplace_back(name, videoOf(*clean));
        EXPECT_GT(all.back().second.stamps.size(), 3u) << name;
    }
    return all;
}

std::string describe(const FindingList& list) {
    std::string s;
    for (const Finding& f : list.items()) {
        s += std::to_string(int(f.kind)) + "/" + std::to_string(int(f.cause)) + " " +
             std::to_string(f.begin) + "-" + std::to_string(f.end) + " frames " +
             std::to_string(f.frames) + "\n";
    }
    return s;
}

TEST(VideoCheck, CleanFixturesGiveNoFinding) {
    std::vector<std::string> names(std::begin(kFixtures), std::end(kFixtures));
    names.emplace_back("vcd-mplex.dat");
    for (const std::string& name : names) {
        test::Scanned s;
        ASSERT_TRUE(s.scan(test::fixture(name))) << name;
        for (const Finding& f : s.state.findings.items()) {
            EXPECT_FALSE(isVideoCode(kStartCodePrefix | f.stream))
                << name << ": " << describe(s.state.findings);
        }
    }
}

// However the packets cut the stream, wherever a recording starts and
// whatever a listed cut takes away, a clean stream stays clean.
TEST(VideoCheck, AnyPacketsOfACleanStreamGiveNoFinding) {
    std::mt19937_64 rng(7);
    for (const auto& [name, video] : fixtureVideo()) {
        for (int trial = 0; trial < 12; ++trial) {
            Fed fed;
            Feeding how;
            if (trial % 3 >= 1) how.first = rng() % 20;
            if (trial % 3 == 2) how = {how.first, how.first + 1 + rng() % 100, rng() % 6};
            feed(video, rng, fed, how);
            EXPECT_TRUE(fed.findings.empty()) << name << " trial " << trial << "\n"
                                              << describe(fed.findings);
        }
    }
}

// MPEG-4 part 2 and H.264 streams use start codes too, some of them the
// values MPEG-1 and MPEG-2 video use (00, B3, B5, 01-AF): as long as no
// sequence header and picture with its slices confirm MPEG-1 or MPEG-2
// video, the order of their codes is no damage.
TEST(VideoCheck, OtherCodingsGiveNoFinding) {
    std::mt19937_64 rng(5);
    const std::vector<std::vector<uint8_t>> kinds = {
        {0xB0, 0xB5, 0x00, 0x20, 0xB3, 0xB6, 0xB6, 0xB6, 0xB2, 0xB6},  // MPEG-4 part 2
        {0x09, 0x67, 0x68, 0x06, 0x65, 0x09, 0x41, 0x09, 0x01, 0x01},  // H.264
    };
    for (const std::vector<uint8_t>& codes : kinds) {
        VideoStream v;
        for (int group = 0; group < 20; ++group) {
            for (const uint8_t code : codes) {
                v.bytes.insert(v.bytes.end(), {0, 0, 1, code});
                for (size_t k = rng() % 400; k > 0; --k) {
                    v.bytes.push_back(static_cast<uint8_t>(1 + rng() % 255));
                }
            }
        }
        Fed fed;
        feed(v, rng, fed);
        EXPECT_TRUE(fed.findings.empty()) << describe(fed.findings);
    }
}

enum class Hit { SliceBody, CodeToReserved, SliceOutOfOrder, Reference };

// One byte changed, and what it hit: the bytes inside a slice (no check
// reads them: nothing to find), a start code's value made one no video
// stream has, a slice's row made to go back or below the picture, a
// picture's temporal reference.
struct Change {
    Hit hit = Hit::SliceBody;
    size_t at = 0;
};

std::optional<Change> changeOne(std::vector<uint8_t>& b, std::mt19937_64& rng) {
    const std::vector<Code> codes = codesIn(b);
    const auto hit = static_cast<Hit>(rng() % 4);
    // Past the first slices, which confirm MPEG-1 or MPEG-2 video.
    const size_t j = 8 + rng() % (codes.size() - 9);
    const Code c = codes[j], next = codes[j + 1];
    const bool slice = c.value >= kFirstSliceCode && c.value <= kLastSliceCode;
    switch (hit) {
        case Hit::SliceBody: {
            if (!slice || next.at < c.at + 10) return std::nullopt;
            const size_t at = c.at + 5 + rng() % (next.at - c.at - 8);
            const uint8_t was = b[at];
            b[at] = static_cast<uint8_t>(was + 1 + rng() % 255);
            if (codesIn(b).size() != codes.size()) b[at] = was;
            if (b[at] == was) return std::nullopt;
            return Change{hit, at};
        }
        case Hit::CodeToReserved: {
            static constexpr uint8_t kNone[] = {0xB0, 0xB1, 0xB4, 0xB6, 0xB9,
                                                0xBA, 0xC0, 0xE0, 0xFF};
            b[c.at + 3] = kNone[rng() % std::size(kNone)];
            return Change{hit, c.at + 3};
        }
        case Hit::SliceOutOfOrder: {
            if (!slice) return std::nullopt;
            const bool nextSlice = next.value >= kFirstSliceCode && next.value <= kLastSliceCode;
            b[c.at + 3] =
                nextSlice && rng() % 2 ? static_cast<uint8_t>(next.value + 1) : kLastSliceCode;
            return Change{hit, c.at + 3};
        }
        case Hit::Reference: {
            const bool laterGroup = std::any_of(codes.begin() + j, codes.end(),
                                                [](const Code& k) { return k.value == kGopCode; });
            if (c.value != kPictureCode || !laterGroup) return std::nullopt;
            const uint32_t was = (b[c.at + 4] << 2) | (b[c.at + 5] >> 6);
            const uint32_t now = (was + 1 + rng() % 1023) % 1024;
            b[c.at + 4] = static_cast<uint8_t>(now >> 2);
            b[c.at + 5] = static_cast<uint8_t>((b[c.at + 5] & 0x3F) | ((now & 3) << 6));
            return Change{hit, c.at + 4};
        }
    }
    return std::nullopt;
}

TEST(VideoCheck, ChangedBytesAreFoundWhereTheyHit) {
    std::mt19937_64 rng(11);
    for (const auto& [name, video] : fixtureVideo()) {
        int changes = 0;
        for (int trial = 0; changes < 40 && trial < 400; ++trial) {
            VideoStream changed = video;
            const std::optional<Change> change = changeOne(changed.bytes, rng);
            if (!change) continue;
            ++changes;
            Fed fed;
            feed(changed, rng, fed);
            SCOPED_TRACE(std::string(name) + " hit " + std::to_string(int(change->hit)) + " at " +
                         std::to_string(change->at) + "\n" + describe(fed.findings));
            switch (change->hit) {
                case Hit::SliceBody:
                    EXPECT_TRUE(fed.findings.empty());
                    break;
                case Hit::CodeToReserved:
                    EXPECT_TRUE(fed.anyCovers(change->at, FindingCause::VideoOrder));
                    break;
                case Hit::SliceOutOfOrder:
                    EXPECT_TRUE(fed.anyCovers(change->at, FindingCause::SliceOrder));
                    break;
                case Hit::Reference:
                    EXPECT_TRUE(fed.anyCovers(change->at, FindingCause::TemporalReference));
                    break;
            }
            for (const Finding& f : fed.findings.items()) {
                EXPECT_EQ(f.kind, FindingKind::PayloadDamage);
            }
        }
        EXPECT_EQ(changes, 40) << name;
    }
}

// Pictures taken out whole, in decode order, with their stamps: the next
// stamp is ahead of the pictures received by as many frames, and that is
// the one finding, between two payloads.
TEST(VideoCheck, PicturesLostWholeAreGaps) {
    std::mt19937_64 rng(13);
    for (const auto& [name, video] : fixtureVideo()) {
        std::vector<size_t> pictures, syncs;
        for (const Code& c : codesIn(video.bytes)) {
            if (c.value == kPictureCode) pictures.push_back(c.at);
            if (c.value == kPictureCode || c.value == kGopCode || c.value == kSequenceCode ||
                c.value == kSequenceEndCode) {
                syncs.push_back(c.at);
            }
        }
        for (int trial = 0; trial < 15; ++trial) {
            const size_t lost = 1 + rng() % 3;
            const size_t first = 2 + rng() % (pictures.size() - lost - 12);
            const size_t from = pictures[first];
            const size_t to =
                *std::upper_bound(syncs.begin(), syncs.end(), pictures[first + lost - 1]);
            VideoStream cut;
            cut.bytes = video.bytes;
            cut.bytes.erase(cut.bytes.begin() + static_cast<ptrdiff_t>(from),
                            cut.bytes.begin() + static_cast<ptrdiff_t>(to));
            for (Stamped s : video.stamps) {
                if (s.at >= from && s.at < to) continue;
                if (s.at >= to) s.at -= to - from;
                cut.stamps.push_back(s);
            }
            Fed fed;
            feed(cut, rng, fed);
            SCOPED_TRACE(std::string(name) + " lost " + std::to_string(lost) + " from picture " +
                         std::to_string(first) + "\n" + describe(fed.findings));
            ASSERT_EQ(fed.findings.size(), 1u);
            const Finding& f = fed.findings.items()[0];
            EXPECT_EQ(f.frames, lost);
            EXPECT_LT(f.begin, f.end);
            // A stream with stamps on few pictures may have none behind the
            // loss: the count of the group's references shows it then.
            if (video.stamps.size() > 10 || f.kind == FindingKind::Gap) {
                EXPECT_EQ(f.kind, FindingKind::Gap);
                EXPECT_GT(f.timeTo, f.timeFrom);
            } else {
                EXPECT_EQ(f.cause, FindingCause::TemporalReference);
                EXPECT_LE(f.begin, fed.positionOf(from));
            }
        }
    }
}

}  // namespace
}  // namespace mpg
