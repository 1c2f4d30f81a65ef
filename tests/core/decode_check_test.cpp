// The decode check: the fixtures, which ffmpeg decodes without a message,
// give no finding; payload bytes of one frame destroyed give a finding of
// that frame's stream over those bytes, and none elsewhere.
#include <gtest/gtest.h>

#include <random>

#include "analysis/scan.h"
#include "model/headers.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

void scanFile(AppState& state, const std::string& path, bool decode) {
    state.decodeCheck = decode;
    test::RecordingSink sink;
    ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
    EXPECT_FALSE(scanStream(state, sink));
    state.view.closeFile();
}

TEST(DecodeCheck, CleanFixturesGiveNoFinding) {
    for (const char* name :
         {"av.mpg", "video-only.mpg", "vcd.mpg", "vcd-2324.mpg", "vcd-mplex.mpg", "vcd-mplex.dat",
          "svcd-mplex.mpg", "two-audio.mpg", "dvd.mpg", "vob.mpg", "no-system-header.mpg"}) {
        SCOPED_TRACE(name);
        AppState state;
        scanFile(state, test::fixture(name), true);
        EXPECT_TRUE(state.findings.empty()) << state.findings.items().front().begin;
    }
}

// The payloads of one stream's packets in a plain stream: where each begins
// and how long it is, past a private stream's substream header.
struct PayloadSpan {
    size_t at = 0;
    size_t size = 0;
};

std::vector<PayloadSpan> payloadsOf(const std::vector<uint8_t>& bytes, const BlockTable& table,
                                    uint8_t stream, uint8_t substream) {
    std::vector<PayloadSpan> spans;
    for (size_t i = 0; i < table.size(); ++i) {
        const BlockRecord& r = table[i];
        if (r.code != (0x100u | stream) || r.declaredSize <= 6) continue;
        const uint8_t* packet = bytes.data() + r.offset;
        const std::optional<PacketHeaderLayout> layout =
            parsePacketHeader(packet, static_cast<uint32_t>(r.declaredSize));
        if (!layout) continue;
        size_t start = layout->payloadStart;
        if (stream == 0xBD) {
            if (packet[start] != substream) continue;
            start += 4;
        }
        if (start < static_cast<size_t>(r.declaredSize)) {
            spans.push_back({r.offset + start, r.declaredSize - start});
        }
    }
    return spans;
}

struct Damaged {
    const char* fixture;
    uint8_t stream;
    uint8_t substream;
};

// Bytes of the middle packet's payload replaced by random ones, never zero,
// so that no start code appears and every block stays whole.
TEST(DecodeCheck, DestroyedFrameBytesAreFoundInTheirStreamOnly) {
    std::mt19937 random(33);
    for (const Damaged& d : {Damaged{"av.mpg", 0xE0, 0}, Damaged{"vob.mpg", 0xE0, 0},
                             Damaged{"svcd-mplex.mpg", 0xE0, 0}, Damaged{"dvd.mpg", 0xBD, 0x80},
                             Damaged{"vcd-mplex.mpg", 0xE0, 0}}) {
        SCOPED_TRACE(d.fixture);
        const std::string source = test::fixture(d.fixture);
        std::vector<uint8_t> bytes = test::readFile(source);
        AppState plain;
        scanFile(plain, source, false);
        const std::vector<PayloadSpan> spans =
            payloadsOf(bytes, plain.table, d.stream, d.substream);
        ASSERT_GT(spans.size(), 4u);
        const PayloadSpan& hit = spans[spans.size() / 2];
        const size_t from = hit.at + hit.size / 4;
        const size_t to = from + std::min<size_t>(hit.size / 2, 200);
        for (size_t k = from; k < to; ++k) bytes[k] = static_cast<uint8_t>(1 + random() % 255);
        test::TempDir dir;
        AppState state;
        scanFile(state, dir.write("damaged.mpg", bytes), true);
        EXPECT_EQ(countListed(state.table), 0u);
        bool covered = false;
        for (const Finding& f : state.findings.items()) {
            // The checks of the frames may see the damage too; the
            // decoder's own rows are the ones judged here.
            if (f.kind != FindingKind::DecodeError) continue;
            EXPECT_EQ(f.cause, FindingCause::Decoder);
            EXPECT_EQ(f.stream, d.stream);
            EXPECT_EQ(f.substream, d.substream);
            EXPECT_GE(f.frames, 1u);
            EXPECT_NE(f.timeFrom, kNoTime);
            covered = covered || (f.begin <= from && to <= f.end);
        }
        EXPECT_TRUE(covered) << from << "-" << to;
    }
}

// A run inserted into a video packet breaks its block, which the scan
// lists: the decoder starts afresh behind it and lists nothing of its own
// for that seam, neither the picture the run cut nor those that lost their
// reference with it.
TEST(DecodeCheck, ABrokenBlockIsASeamTheDecoderAddsNoRowFor) {
    for (const char* name : {"av.mpg", "vob.mpg", "svcd-mplex.mpg"}) {
        SCOPED_TRACE(name);
        const std::string source = test::fixture(name);
        std::vector<uint8_t> bytes = test::readFile(source);
        AppState plain;
        scanFile(plain, source, false);
        const std::vector<PayloadSpan> spans = payloadsOf(bytes, plain.table, 0xE0, 0);
        ASSERT_GT(spans.size(), 4u);
        const PayloadSpan& hit = spans[spans.size() / 3];
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(hit.at + hit.size / 2), 300,
                     uint8_t{0xAA});
        test::TempDir dir;
        AppState state;
        scanFile(state, dir.write("broken.mpg", bytes), true);
        EXPECT_GE(countListed(state.table), 1u);
        EXPECT_TRUE(state.findings.empty()) << state.findings.items().front().begin;
    }
}

}  // namespace
}  // namespace mpg
