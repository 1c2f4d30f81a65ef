#include "analysis/decode_check.h"

#include "decode/stream_decoder.h"

namespace mpg {

namespace {

class DecodeCheck : public ContentCheck {
  public:
    DecodeCheck(CheckContext& context, std::unique_ptr<StreamDecoder> decoder, uint8_t stream,
                uint8_t substream)
        : context_(context), decoder_(std::move(decoder)), stream_(stream), substream_(substream) {}

    void takePayload(const Payload& payload) override {
        if (payload.size == 0) return;
        decoder_->feed(payload.bytes, payload.size, payload.at, payload.packet, payload.pts);
        report();
    }

    void interrupt(Position, Position) override {
        decoder_->restart();
        report();
    }

    void finish(Position) override {
        decoder_->finish();
        report();
    }

  private:
    void report() {
        for (const DecodeFault& fault : decoder_->takeFaults()) {
            Finding finding;
            finding.begin = fault.begin;
            finding.end = fault.end;
            if (fault.pts) finding.timeFrom = finding.timeTo = context_.since(*fault.pts);
            finding.frames = 1;
            finding.kind = FindingKind::DecodeError;
            finding.cause = FindingCause::Decoder;
            finding.stream = stream_;
            finding.substream = substream_;
            context_.add(finding);
        }
    }

    CheckContext& context_;
    std::unique_ptr<StreamDecoder> decoder_;
    uint8_t stream_;
    uint8_t substream_;
};

}  // namespace

std::unique_ptr<ContentCheck> makeDecodeCheck(CheckContext& context, uint8_t stream,
                                              uint8_t substream) {
    std::unique_ptr<StreamDecoder> decoder = StreamDecoder::make(stream, substream);
    if (!decoder) return nullptr;
    return std::make_unique<DecodeCheck>(context, std::move(decoder), stream, substream);
}

}  // namespace mpg
