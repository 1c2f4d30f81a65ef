#include "support/stream_builder.h"

#include "stream/start_codes.h"

namespace mpg::test {

namespace {

void putCode(std::vector<uint8_t>& out, uint32_t code) {
    out.insert(out.end(), {0x00, 0x00, 0x01, static_cast<uint8_t>(code & 0xFF)});
}

}  // namespace

std::vector<uint8_t> StreamBuilder::pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> out(count);
    uint8_t v = seed;
    for (auto& b : out) {
        b = v;
        v = static_cast<uint8_t>(v + 7);
    }
    return out;
}

void StreamBuilder::block(uint32_t code, const std::vector<uint8_t>& body) {
    blocks_.push_back({code, bytes_.size(), body.size() + 4});
    putCode(bytes_, code);
    bytes_.insert(bytes_.end(), body.begin(), body.end());
}

StreamBuilder& StreamBuilder::pack() {
    // '0010' SCR with its marker bits, then the mux rate between two markers.
    block(kPackStartCode, {0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x83});
    return *this;
}

StreamBuilder& StreamBuilder::systemHeader(std::initializer_list<uint8_t> streamIds) {
    const size_t length = 6 + 3 * streamIds.size();
    std::vector<uint8_t> body = {static_cast<uint8_t>(length >> 8),
                                 static_cast<uint8_t>(length),
                                 0x80,
                                 0x1B,
                                 0x83,
                                 0x04,
                                 0xE1,
                                 0xFF};
    for (uint8_t id : streamIds) body.insert(body.end(), {id, 0xE0, 0x2E});
    block(kSystemHeaderStartCode, body);
    return *this;
}

StreamBuilder& StreamBuilder::packetWith(uint8_t streamId, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> body = {static_cast<uint8_t>(payload.size() >> 8),
                                 static_cast<uint8_t>(payload.size())};
    body.insert(body.end(), payload.begin(), payload.end());
    block(kStartCodePrefix | streamId, body);
    return *this;
}

StreamBuilder& StreamBuilder::packet(uint8_t streamId, size_t payloadSize) {
    return packetWith(streamId, pattern(payloadSize, static_cast<uint8_t>(bytes_.size())));
}

StreamBuilder& StreamBuilder::padding(size_t payloadSize) {
    return packetWith(kPaddingStreamCode & 0xFF, std::vector<uint8_t>(payloadSize, 0xFF));
}

StreamBuilder& StreamBuilder::endCode() {
    block(kEndCode, {});
    return *this;
}

StreamBuilder& StreamBuilder::raw(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

StreamBuilder& StreamBuilder::insert(size_t pos, size_t count, uint8_t value) {
    return insertBytes(pos, std::vector<uint8_t>(count, value));
}

StreamBuilder& StreamBuilder::insertBytes(size_t pos, const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.begin() + static_cast<ptrdiff_t>(pos), bytes.begin(), bytes.end());
    return *this;
}

StreamBuilder& StreamBuilder::erase(size_t pos, size_t count) {
    const auto at = bytes_.begin() + static_cast<ptrdiff_t>(pos);
    bytes_.erase(at, at + static_cast<ptrdiff_t>(count));
    return *this;
}

StreamBuilder typicalStream(int packs, size_t videoPayload, size_t audioPayload) {
    StreamBuilder b;
    b.pack().systemHeader({0xC0, 0xE0});
    for (int i = 0; i < packs; ++i) b.pack().packet(0xE0, videoPayload).packet(0xC0, audioPayload);
    b.endCode();
    return b;
}

}  // namespace mpg::test
