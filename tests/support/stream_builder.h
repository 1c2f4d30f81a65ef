// Builds MPEG-1 system streams in memory for exact test cases: pack headers,
// system headers with chosen stream entries, packets with chosen payloads,
// padding and the end code, and damage by inserting or deleting bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace mpg::test {

struct BuiltBlock {
    uint32_t code = 0;
    size_t offset = 0;
    size_t size = 0;
};

class StreamBuilder {
  public:
    StreamBuilder& pack();
    StreamBuilder& systemHeader(std::initializer_list<uint8_t> streamIds);
    // A packet whose payload is `payloadSize` bytes of pattern() (no run of
    // two equal bytes, so no start code and no repeat inside).
    StreamBuilder& packet(uint8_t streamId, size_t payloadSize);
    StreamBuilder& packetWith(uint8_t streamId, const std::vector<uint8_t>& payload);
    StreamBuilder& padding(size_t payloadSize);
    StreamBuilder& endCode();
    StreamBuilder& raw(const std::vector<uint8_t>& bytes);

    // Damage, in positions of the bytes built so far.
    StreamBuilder& insert(size_t pos, size_t count, uint8_t value);
    StreamBuilder& insertBytes(size_t pos, const std::vector<uint8_t>& bytes);
    StreamBuilder& erase(size_t pos, size_t count);

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // The blocks as they were appended (positions before any damage).
    const std::vector<BuiltBlock>& blocks() const { return blocks_; }
    size_t size() const { return bytes_.size(); }

    // Bytes that step by 7: never two equal neighbours, never 00 00.
    static std::vector<uint8_t> pattern(size_t count, uint8_t seed = 0x11);

  private:
    void block(uint32_t code, const std::vector<uint8_t>& body);

    std::vector<uint8_t> bytes_;
    std::vector<BuiltBlock> blocks_;
};

// pack, system header listing 0xC0 and 0xE0, then `packs` times a pack header
// with a video packet of `videoPayload` and an audio packet of `audioPayload`
// bytes, then the end code.
StreamBuilder typicalStream(int packs, size_t videoPayload = 2000, size_t audioPayload = 400);

}  // namespace mpg::test
