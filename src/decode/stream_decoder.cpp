#include "decode/stream_decoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace mpg {

DecoderKind decoderFor(uint8_t stream, uint8_t substream) {
    if (stream >= 0xE0 && stream <= 0xEF) return DecoderKind::MpegVideo;
    if (stream >= 0xC0 && stream <= 0xDF) return DecoderKind::MpegAudio;
    if (stream == 0xBD && substream >= 0x80 && substream <= 0x87) return DecoderKind::Ac3;
    return DecoderKind::None;
}

namespace {

// The codec a parser cuts the stream with: the MPEG audio parser knows
// every layer, the video parser both MPEG-1 and MPEG-2.
AVCodecID parserCodec(DecoderKind kind) {
    switch (kind) {
        case DecoderKind::MpegVideo:
            return AV_CODEC_ID_MPEG2VIDEO;
        case DecoderKind::MpegAudio:
            return AV_CODEC_ID_MP2;
        case DecoderKind::Ac3:
            return AV_CODEC_ID_AC3;
        case DecoderKind::None:
            break;
    }
    return AV_CODEC_ID_NONE;
}

// The MPEG audio decoder by the layer of a frame's header (bits 17-18:
// 3 layer I, 2 layer II, 1 layer III); none for the reserved value.
AVCodecID audioCodecOf(const uint8_t* frame, int size) {
    if (size < 2) return AV_CODEC_ID_NONE;
    switch ((frame[1] >> 1) & 3) {
        case 3:
            return AV_CODEC_ID_MP1;
        case 2:
            return AV_CODEC_ID_MP2;
        case 1:
            return AV_CODEC_ID_MP3;
        default:
            return AV_CODEC_ID_NONE;
    }
}

}  // namespace

// A payload piece the parser has been fed: where its bytes stand in the
// elementary stream (counted from the parser's start) and in the stream.
struct FedPiece {
    int64_t es = 0;
    uint32_t size = 0;
    Position at = 0;
    Position packet = 0;
};

// A frame handed to the decoder, kept a while for a fault that the decoder
// tells only when the frame comes out (reordered behind later ones).
struct SentFrame {
    int64_t serial = 0;
    DecodeFault fault;
    bool judged = true;
};

struct StreamDecoder::Impl {
    DecoderKind kind = DecoderKind::None;
    AVCodecParserContext* parser = nullptr;
    AVCodecContext* parseContext = nullptr;  // what the parser learns; never opened
    AVCodecContext* codec = nullptr;         // opened at the first frame
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::vector<uint8_t> padded;  // the piece being parsed, with the padding FFmpeg reads
    std::deque<FedPiece> pieces;
    int64_t fed = 0;         // elementary stream bytes given to the parser since it started
    int64_t frameStart = 0;  // where the next frame begins
    int64_t serial = 0;
    std::deque<SentFrame> sent;
    std::optional<uint64_t> lastPts;
    // After a cut, frames go unjudged until one decodes without an error:
    // the decoder lacks the pictures before the cut and says so.
    bool settling = false;
    bool unusable = false;  // the decoder could not be opened
    uint32_t logged = 0;    // errors the log told while this decoder decoded
    std::vector<DecodeFault> faults;
    uint64_t frames = 0;
    uint64_t errors = 0;

    ~Impl() {
        av_parser_close(parser);
        avcodec_free_context(&parseContext);
        avcodec_free_context(&codec);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }

    bool startParser() {
        av_parser_close(parser);
        parser = av_parser_init(parserCodec(kind));
        pieces.clear();
        fed = frameStart = 0;
        return parser != nullptr;
    }

    void feed(const uint8_t* bytes, uint32_t size, Position at, Position packetAt,
              std::optional<uint64_t> pts);
    void parse(const uint8_t* bytes, int size, int64_t pts);
    void takeFrame(const uint8_t* data, int size);
    DecodeFault locate(int64_t begin, int64_t end) const;
    bool open(const uint8_t* data, int size);
    void decode(const AVPacket* input, SentFrame& record);
    void receive();
    void judge(SentFrame& record, uint32_t count);
    void restart();
    void finish();
};

namespace {

// The one decoder decoding on this thread, to which the log's errors count.
thread_local StreamDecoder::Impl* tDecoding = nullptr;

// libavcodec tells most damage only through its log ("ac-tex damaged",
// "CRC mismatch", "incomplete frame"): every message at the level of an
// error or worse counts as one error of the frame being decoded, as
// `ffmpeg -v error` would print it. Nothing is printed. The callback is the
// process's one; decoding never leaves the thread that feeds a decoder, so
// the decoder that logs is the one this thread is decoding with.
void countLoggedError(void* /*avcl*/, int level, const char* /*format*/, va_list /*args*/) {
    if (level > AV_LOG_ERROR || tDecoding == nullptr) return;
    ++tDecoding->logged;
}

void installLogCallback() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(countLoggedError); });
}

// Sets the decoder whose errors the log counts for the time of a call.
class Decoding {
  public:
    explicit Decoding(StreamDecoder::Impl& d) : previous_(tDecoding) { tDecoding = &d; }
    ~Decoding() { tDecoding = previous_; }
    Decoding(const Decoding&) = delete;
    Decoding& operator=(const Decoding&) = delete;

  private:
    StreamDecoder::Impl* previous_;
};

constexpr size_t kSentKept = 64;

}  // namespace

void StreamDecoder::Impl::feed(const uint8_t* bytes, uint32_t size, Position at, Position packetAt,
                               std::optional<uint64_t> pts) {
    if (size == 0 || unusable) return;
    pieces.push_back({fed, size, at, packetAt});
    padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(padded.data(), bytes, size);
    std::memset(padded.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    parse(padded.data(), static_cast<int>(size), pts ? static_cast<int64_t>(*pts) : AV_NOPTS_VALUE);
}

void StreamDecoder::Impl::parse(const uint8_t* bytes, int size, int64_t pts) {
    // An empty buffer asks the parser for the frame it holds.
    const bool flush = size == 0;
    do {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(parser, parseContext, &out, &outSize, bytes, size, pts,
                                          AV_NOPTS_VALUE, 0);
        pts = AV_NOPTS_VALUE;  // the stamp goes with the piece's first byte only
        bytes += used;
        size -= used;
        fed += used;
        if (outSize > 0) takeFrame(out, outSize);
        if (flush || (used == 0 && outSize == 0)) break;
    } while (size > 0);
}

void StreamDecoder::Impl::takeFrame(const uint8_t* data, int size) {
    // The parser may end a frame a few bytes back in what it was given
    // before: where it ends is where the parser says the next one begins.
    const int64_t end = parser->next_frame_offset;
    const int64_t begin = std::max(frameStart, end - size);
    frameStart = end;
    if (parser->pts != AV_NOPTS_VALUE) lastPts = static_cast<uint64_t>(parser->pts);
    SentFrame record;
    record.serial = serial++;
    record.fault = locate(begin, end);
    record.fault.pts = lastPts;
    record.judged = !settling;
    // Pieces wholly before the next frame are done with.
    while (!pieces.empty() && pieces.front().es + pieces.front().size <= frameStart) {
        pieces.pop_front();
    }
    if (!codec && !open(data, size)) return;
    packet->data = const_cast<uint8_t*>(data);
    packet->size = size;
    packet->pts = record.serial;
    packet->dts = AV_NOPTS_VALUE;
    sent.push_back(record);
    if (sent.size() > kSentKept) sent.pop_front();
    decode(packet, sent.back());
}

DecodeFault StreamDecoder::Impl::locate(int64_t begin, int64_t end) const {
    DecodeFault fault;
    if (pieces.empty()) return fault;
    const auto at = [&](int64_t es, Position& pos, Position& packetAt) {
        for (const FedPiece& piece : pieces) {
            if (es < piece.es + piece.size || &piece == &pieces.back()) {
                const int64_t into = std::clamp<int64_t>(es - piece.es, 0, piece.size);
                pos = piece.at + static_cast<Position>(into);
                packetAt = piece.packet;
                return;
            }
        }
    };
    at(begin, fault.begin, fault.firstPacket);
    at(std::max(begin, end - 1), fault.end, fault.lastPacket);
    if (end > begin) ++fault.end;
    return fault;
}

bool StreamDecoder::Impl::open(const uint8_t* data, int size) {
    const AVCodecID id = kind == DecoderKind::MpegAudio   ? audioCodecOf(data, size)
                         : kind == DecoderKind::MpegVideo ? AV_CODEC_ID_MPEG2VIDEO
                                                          : AV_CODEC_ID_AC3;
    const AVCodec* found = avcodec_find_decoder(id);
    if (found == nullptr) return false;
    codec = avcodec_alloc_context3(found);
    if (codec == nullptr) return false;
    // The CRCs and the buffer checks, and the bitstream checks where they
    // judge only what the standard fixes: the video decoder's would call the
    // zero stuffing a constant-rate encoder writes behind a picture's last
    // slice an error. Decoding goes on behind an error.
    codec->err_recognition = AV_EF_CRCCHECK | AV_EF_BUFFER;
    if (kind != DecoderKind::MpegVideo) codec->err_recognition |= AV_EF_BITSTREAM;
    // One thread: the scan's own, so that the log's errors are told on the
    // thread that decodes and belong to the frame sent.
    codec->thread_count = 1;
    if (avcodec_open2(codec, found, nullptr) < 0) {
        avcodec_free_context(&codec);
        unusable = true;
        return false;
    }
    return true;
}

void StreamDecoder::Impl::decode(const AVPacket* input, SentFrame& record) {
    const Decoding decoding(*this);
    logged = 0;
    const int sentResult = avcodec_send_packet(codec, input);
    uint32_t count = sentResult < 0 && sentResult != AVERROR(EAGAIN) && sentResult != AVERROR_EOF;
    receive();
    count += logged;
    judge(record, count);
}

void StreamDecoder::Impl::receive() {
    for (;;) {
        const int got = avcodec_receive_frame(codec, frame);
        if (got < 0) return;
        ++frames;
        const bool damaged =
            frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0;
        const int64_t serialOut = frame->pts;
        av_frame_unref(frame);
        if (!damaged) continue;
        // A frame that comes out damaged though its decoding said nothing:
        // its fault is told now.
        for (SentFrame& record : sent) {
            if (record.serial == serialOut && record.fault.errors == 0) judge(record, 1);
        }
    }
}

void StreamDecoder::Impl::judge(SentFrame& record, uint32_t count) {
    if (count == 0) {
        settling = false;
        return;
    }
    errors += count;
    if (!record.judged) return;
    const bool told = record.fault.errors > 0;
    record.fault.errors += count;
    if (!told) faults.push_back(record.fault);
}

void StreamDecoder::Impl::restart() {
    if (codec) avcodec_flush_buffers(codec);
    sent.clear();
    settling = true;
    if (!startParser()) unusable = true;
}

void StreamDecoder::Impl::finish() {
    if (unusable) return;
    parse(nullptr, 0, AV_NOPTS_VALUE);
    if (!codec || sent.empty()) return;
    // The frames the decoder still holds come out; an error told while
    // they do counts to the last frame sent.
    decode(nullptr, sent.back());
}

std::unique_ptr<StreamDecoder> StreamDecoder::make(uint8_t stream, uint8_t substream) {
    const DecoderKind kind = decoderFor(stream, substream);
    if (kind == DecoderKind::None) return nullptr;
    installLogCallback();
    auto impl = std::make_unique<Impl>();
    impl->kind = kind;
    impl->parseContext = avcodec_alloc_context3(nullptr);
    impl->packet = av_packet_alloc();
    impl->frame = av_frame_alloc();
    if (!impl->parseContext || !impl->packet || !impl->frame || !impl->startParser()) {
        return nullptr;
    }
    return std::unique_ptr<StreamDecoder>(new StreamDecoder(std::move(impl)));
}

StreamDecoder::StreamDecoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

StreamDecoder::~StreamDecoder() = default;

void StreamDecoder::feed(const uint8_t* bytes, uint32_t size, Position at, Position packet,
                         std::optional<uint64_t> pts) {
    impl_->feed(bytes, size, at, packet, pts);
}

void StreamDecoder::restart() {
    impl_->restart();
}

void StreamDecoder::finish() {
    impl_->finish();
}

std::vector<DecodeFault> StreamDecoder::takeFaults() {
    return std::exchange(impl_->faults, {});
}

uint64_t StreamDecoder::framesDecoded() const {
    return impl_->frames;
}

uint64_t StreamDecoder::errorsSeen() const {
    return impl_->errors;
}

}  // namespace mpg
