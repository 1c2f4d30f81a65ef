#include "analysis/content_check.h"

#include <algorithm>

#include "analysis/audio_check.h"
#include "analysis/clock_check.h"
#include "analysis/decode_check.h"
#include "analysis/fill_ledger.h"
#include "analysis/video_check.h"
#include "model/elementary.h"
#include "stream/start_codes.h"

namespace mpg {

namespace {

// The bytes of a private stream 1 substream's own header in front of its
// frames: its id byte, and for AC-3, DTS (0x80-0x8F) the count of frames
// and the pointer to the first access unit, for LPCM (0xA0-0xAF) also the
// three bytes of its sample format. Subpictures (0x20-0x3F) have the id
// byte alone.
uint32_t substreamHeaderSize(uint8_t substream) {
    if (substream >= 0x80 && substream <= 0x8F) return 4;
    if (substream >= 0xA0 && substream <= 0xAF) return 7;
    return 1;
}

// A stream's findings over bytes that the clocks found to be junk are its
// echo: the junk's packets broke the stream's stamps and frames.
void dropEchoesOfJunk(FindingList& findings) {
    std::vector<std::pair<Position, Position>> junk;
    for (const Finding& finding : findings.items()) {
        if (finding.kind == FindingKind::Junk) junk.emplace_back(finding.begin, finding.end);
    }
    if (junk.empty()) return;
    const std::vector<Finding> all = findings.items();
    findings.clear();
    for (const Finding& finding : all) {
        const bool echo =
            finding.stream != 0 && std::any_of(junk.begin(), junk.end(), [&](const auto& range) {
                return finding.begin <= range.second && finding.end >= range.first;
            });
        if (!echo) findings.add(finding);
    }
}

}  // namespace

std::vector<std::unique_ptr<ContentCheck>> checksForStream(CheckContext& context, uint8_t stream,
                                                           uint8_t substream) {
    std::vector<std::unique_ptr<ContentCheck>> checks;
    if (isVideoCode(kStartCodePrefix | stream)) {
        checks.push_back(std::make_unique<VideoCheck>(context, stream));
    }
    if (isAudioCode(kStartCodePrefix | stream)) checks.push_back(mpegAudioCheck(context, stream));
    if (stream == 0xBD && substream >= 0x80 && substream <= 0x87) {
        checks.push_back(ac3Check(context, substream));
    }
    if (context.decodes()) {
        if (auto check = makeDecodeCheck(context, stream, substream)) {
            checks.push_back(std::move(check));
        }
    }
    return checks;
}

std::vector<std::unique_ptr<ContentCheck>> systemChecks(CheckContext& context) {
    std::vector<std::unique_ptr<ContentCheck>> checks;
    checks.push_back(std::make_unique<PackClockCheck>(context));
    return checks;
}

struct ContentChecks::Stream {
    uint8_t stream = 0;
    uint8_t substream = 0;
    std::vector<std::unique_ptr<ContentCheck>> checks;
};

ContentChecks::ContentChecks(FindingList& out, bool decode)
    : context_(out, decode),
      fill_(std::make_unique<FillLedger>()),
      system_(systemChecks(context_)) {}

ContentChecks::~ContentChecks() = default;

bool ContentChecks::take(const WalkEntry& entry, ByteSource& source) {
    if (entry.broken) {
        interruptAll(entry.pos, entry.pos + entry.real);
        return true;
    }
    switch (entry.kind) {
        case BlockKind::Pack: {
            const uint8_t* head = source.bytesAt(entry.pos, kMpeg2PackHeaderSize);
            if (head == nullptr) return false;
            const std::optional<PackHeader> pack =
                parsePackHeader({head, static_cast<size_t>(kMpeg2PackHeaderSize)});
            if (!pack) return true;
            context_.takeClock(pack->scr);
            fill_->takePack(entry.pos, context_.since(pack->scr), pack->muxRate);
            for (auto& check : system_) check->takePack({entry.pos, *pack});
            return true;
        }
        case BlockKind::Packet:
            return takePacket(entry, source);
        case BlockKind::None:
            if (entry.code == kFillCode && entry.real > 0) {
                fill_->takeFill(entry.pos, entry.real);
                for (auto& check : system_) check->takeFill(entry.pos, entry.real);
                for (auto& stream : streams_) {
                    for (auto& check : stream->checks) check->takeFill(entry.pos, entry.real);
                }
            }
            return true;
        case BlockKind::SystemHeader:
        case BlockKind::End:
            return true;
    }
    return true;
}

bool ContentChecks::takePacket(const WalkEntry& entry, ByteSource& source) {
    const uint8_t id = static_cast<uint8_t>(entry.code & 0xFF);
    // Padding carries nothing, and private stream 2 (a DVD's navigation
    // packets) nothing a check of frames reads.
    if (id == (kPaddingStreamCode & 0xFF) || id == 0xBF || entry.declared <= kLengthFieldEnd) {
        return true;
    }
    const uint32_t size = static_cast<uint32_t>(entry.declared);
    // A packet is read in pieces no larger than one read may be: the
    // header from the first, the payload handed on piece by piece (the
    // checks gather frames across packets anyway).
    const uint32_t largest = source.largestRead();
    const uint8_t* bytes = source.bytesAt(entry.pos, std::min(size, largest));
    if (bytes == nullptr) return false;
    const std::optional<PacketHeaderLayout> layout =
        parsePacketHeader(bytes, std::min(size, largest));
    if (!layout || layout->payloadStart > size) return true;
    Payload payload;
    payload.packet = entry.pos;
    payload.stream = id;
    uint32_t start = layout->payloadStart;
    if (id == 0xBD && start < std::min(size, largest)) {
        payload.substream = bytes[start];
        start = std::min(size, start + substreamHeaderSize(payload.substream));
    }
    if (layout->ptsAt != 0) payload.pts = layout->pts;
    if (layout->dtsAt != 0) payload.dts = layout->dts;
    if (payload.pts) {
        context_.takeClock(*payload.pts);
        fill_->takeStamp(entry.pos, context_.since(*payload.pts));
    }
    if (payload.dts) fill_->takeStamp(entry.pos, context_.since(*payload.dts));
    Stream& stream = streamFor(id, payload.substream);
    if (stream.checks.empty()) return true;
    // A packet with no payload still hands on its stamps.
    payload.at = entry.pos + start;
    if (start >= size) {
        for (auto& check : stream.checks) check->takePayload(payload);
        return true;
    }
    for (uint32_t at = start; at < size;) {
        const uint32_t count = std::min(size - at, largest);
        payload.at = entry.pos + at;
        payload.size = count;
        payload.bytes = source.bytesAt(payload.at, count);
        if (payload.bytes == nullptr) return false;
        for (auto& check : stream.checks) check->takePayload(payload);
        payload.pts.reset();
        payload.dts.reset();
        at += count;
    }
    return true;
}

ContentChecks::Stream& ContentChecks::streamFor(uint8_t stream, uint8_t substream) {
    for (auto& known : streams_) {
        if (known->stream == stream && known->substream == substream) return *known;
    }
    auto added = std::make_unique<Stream>();
    added->stream = stream;
    added->substream = substream;
    added->checks = checksForStream(context_, stream, substream);
    streams_.push_back(std::move(added));
    return *streams_.back();
}

void ContentChecks::interruptAll(Position from, Position to) {
    for (auto& check : system_) check->interrupt(from, to);
    for (auto& stream : streams_) {
        for (auto& check : stream->checks) check->interrupt(from, to);
    }
}

void ContentChecks::finish(Position end) {
    for (auto& check : system_) check->finish(end);
    for (auto& stream : streams_) {
        for (auto& check : stream->checks) check->finish(end);
    }
    // Every check has told what it found: the gaps that span fill are
    // holes, and what junk broke in the streams is the junk's.
    dropEchoesOfJunk(context_.findings());
    fill_->resolve(context_, end);
}

}  // namespace mpg
