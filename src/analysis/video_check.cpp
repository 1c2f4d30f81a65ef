#include "analysis/video_check.h"

#include <limits>

#include "model/headers.h"

namespace mpg {

namespace {

bool isSlice(uint8_t code) {
    return code >= kFirstSliceCode && code <= kLastSliceCode;
}

// The codes a stream may go on with after a cut or damage: each begins
// something that does not need what came before to be read.
bool isSyncPoint(uint8_t code) {
    return code == kSequenceCode || code == kGopCode || code == kPictureCode;
}

// A difference of two 33-bit clock values, as the shorter way round.
int64_t clockDifference(uint64_t later, uint64_t earlier) {
    const uint64_t d = (later - earlier) & CheckContext::kClockMask;
    return d >= (uint64_t{1} << 32) ? static_cast<int64_t>(d) - (int64_t{1} << 33)
                                    : static_cast<int64_t>(d);
}

}  // namespace

void VideoCheck::takePayload(const Payload& payload) {
    if (payload.pts || payload.dts) {
        stampSeam_ = {std::min(stampedEnd_, payload.at), payload.at};
        stamp_ =
            Stamp{payload.packet, payload.at, payload.at + payload.size, payload.pts, payload.dts};
        stampedPacket_ = payload.packet;
        stampedEnd_ = payload.at + payload.size;
    } else if (payload.packet == stampedPacket_ && payload.size > 0) {
        stampedEnd_ = payload.at + payload.size;
        if (stamp_ && stamp_->packet == payload.packet) stamp_->end = stampedEnd_;
    }
    if (payload.size == 0) return;
    scanner_.take(payload.at, payload.bytes, payload.size,
                  [this](Position pos, const uint8_t* bytes, uint32_t count) {
                      takeCode(pos, bytes, count);
                  });
    payloadEnd_ = payload.at + payload.size;
}

void VideoCheck::interrupt(Position from, Position to) {
    (void)from;
    (void)to;
    if (place_ == Place::Damaged) endDamage(payloadEnd_);
    releaseReference();
    scanner_.reset();
    restart();
}

void VideoCheck::restart() {
    place_ = Place::Unsynced;
    picture_ = {};
    group_ = {};
    anchor_.reset();
    fieldsSince_ = 0;
    stamp_.reset();
    firstFieldOpen_ = false;
    sawB_ = false;
}

void VideoCheck::finish(Position end) {
    (void)end;
    scanner_.flush([this](Position pos, const uint8_t* bytes, uint32_t count) {
        takeCode(pos, bytes, count);
    });
    if (place_ == Place::Damaged) endDamage(payloadEnd_);
    endPicture();
    closeGroup(payloadEnd_, false);
    releaseReference();
    place_ = Place::Unsynced;
}

void VideoCheck::takeCode(Position pos, const uint8_t* bytes, uint32_t count) {
    const uint8_t code = bytes[3];
    if (place_ == Place::Unsynced || place_ == Place::Damaged) {
        const bool ends = place_ == Place::Damaged && code == kSequenceEndCode;
        if (!isSyncPoint(code) && !ends) return;
        if (place_ == Place::Damaged) endDamage(pos);
        place_ = ends ? Place::Slices : Place::Unsynced;
    } else if (!inStep(code)) {
        startDamage(FindingCause::VideoOrder);
        return;
    }
    takeInStep(pos, bytes, count);
}

bool VideoCheck::inStep(uint8_t code) const {
    const Place p = place_;
    if (code == kPictureCode) return p == Place::Sequence || p == Place::Gop || p == Place::Slices;
    if (isSlice(code)) return p == Place::Picture || p == Place::Slices;
    switch (code) {
        case kUserDataCode:
        case kExtensionCode:
            return p == Place::Sequence || p == Place::Gop || p == Place::Picture;
        case kSequenceCode:
            return p == Place::Slices || p == Place::Ended;
        case kSequenceEndCode:
            return p == Place::Slices;
        case kGopCode:
            return p == Place::Sequence || p == Place::Slices;
        default:
            return false;
    }
}

void VideoCheck::takeInStep(Position pos, const uint8_t* bytes, uint32_t count) {
    const uint8_t code = bytes[3];
    if (isSlice(code)) {
        takeSlice(bytes, count);
        return;
    }
    switch (code) {
        case kPictureCode:
            endPicture();
            takePicture(pos, bytes, count);
            return;
        case kExtensionCode:
            takeExtension(bytes, count);
            return;
        case kSequenceCode:
            endPicture();
            takeSequence(pos, bytes, count);
            return;
        case kGopCode:
            endPicture();
            closeGroup(place_ == Place::Sequence ? unitStart_ : pos, true);
            group_.checked = true;
            group_.start = pos;
            group_.brokenLink = count >= kGopHeaderBytes && gopBrokenLink(bytes);
            unitStart_ = pos;
            place_ = Place::Gop;
            return;
        case kSequenceEndCode:
            endPicture();
            closeGroup(pos, true);
            place_ = Place::Ended;
            // A sequence that follows may start at any time (a still
            // picture is shown until the next one comes).
            anchor_.reset();
            fieldsSince_ = 0;
            return;
        default:
            return;  // user data
    }
}

void VideoCheck::takeSequence(Position pos, const uint8_t* bytes, uint32_t count) {
    unitStart_ = pos;
    place_ = Place::Sequence;
    const std::optional<SequenceHeader> header = parseSequenceHeader(bytes, count);
    if (!header) return;
    // The fields shown so far count at the rate they were shown at; at
    // none known, they cannot count.
    if (sequence_.rate.frames == 0) anchor_.reset();
    if (anchor_) {
        anchor_ = (*anchor_ + ticksOf(fieldsSince_)) & CheckContext::kClockMask;
        fieldsSince_ = 0;
    }
    sequence_ = {};
    // Only a sequence header with a size and a frame rate makes a stream
    // MPEG-1 or MPEG-2 video (see confirmed_).
    sequence_.known = header->width != 0 && header->height != 0 && header->frameRateCode >= 1 &&
                      header->frameRateCode <= 8;
    sequence_.height = header->height;
    sequence_.rate = frameRate(header->frameRateCode);
    scanner_.setTall(sequence_.height > kTallPictureLines);
}

void VideoCheck::takeExtension(const uint8_t* bytes, uint32_t count) {
    if (place_ == Place::Sequence) {
        const std::optional<SequenceExtension> e = parseSequenceExtension(bytes, count);
        if (!e || !sequence_.known || sequence_.mpeg2) return;
        sequence_.mpeg2 = true;
        sequence_.progressive = e->progressive;
        sequence_.height |= uint32_t{e->heightExtension} << 12;
        sequence_.rate.frames *= e->frameRateN + 1u;
        sequence_.rate.seconds *= e->frameRateD + 1u;
        scanner_.setTall(sequence_.height > kTallPictureLines);
    } else if (place_ == Place::Picture) {
        const std::optional<PictureCodingExtension> e = parsePictureCodingExtension(bytes, count);
        if (!e) return;
        picture_.coding = *e;
        if (e->repeatFirstField) sawRepeat_ = true;
    }
}

void VideoCheck::takePicture(Position pos, const uint8_t* bytes, uint32_t count) {
    picture_ = {};
    picture_.open = true;
    if (const std::optional<PictureHeader> header = parsePictureHeader(bytes, count)) {
        picture_.header = *header;
        picture_.headerRead = true;
        if (header->codingType == 3) sawB_ = true;
    }
    unitStart_ = pos;
    place_ = Place::Picture;
    checkStamp(pos);
}

void VideoCheck::takeSlice(const uint8_t* bytes, uint32_t count) {
    place_ = Place::Slices;
    if (sequence_.height > kTallPictureLines && count < 5) return;
    const uint32_t row = sliceRow(bytes, sequence_.height);
    if (static_cast<int64_t>(row) < picture_.lastRow || row >= rowsOf(picture_)) {
        startDamage(FindingCause::SliceOrder);
        return;
    }
    picture_.lastRow = row;
    if (sequence_.known) confirmed_ = true;
}

uint32_t VideoCheck::rowsOf(const Picture& picture) const {
    if (!sequence_.known) return std::numeric_limits<uint32_t>::max();
    const uint32_t h = sequence_.height;
    // An interlaced MPEG-2 sequence counts its rows in pairs, one of each
    // field; a field picture has half of them.
    if (sequence_.mpeg2 && !sequence_.progressive) {
        return picture.coding.structure == 3 ? 2 * ((h + 31) / 32) : (h + 31) / 32;
    }
    return (h + 15) / 16;
}

uint32_t VideoCheck::fieldsOf(const Picture& picture) const {
    const PictureCodingExtension& c = picture.coding;
    if (c.structure != 3) return 1;
    if (!c.repeatFirstField) return 2;
    // A progressive sequence repeats whole frames: shown twice, or three
    // times with the top field first.
    if (sequence_.progressive) return c.topFieldFirst ? 6 : 4;
    return 3;
}

uint64_t VideoCheck::ticksOf(uint64_t fields) const {
    const FrameRate& r = sequence_.rate;
    if (r.frames == 0) return 0;
    return (fields * 45000 * r.seconds + r.frames / 2) / r.frames;
}

std::optional<uint64_t> VideoCheck::expectedTime() const {
    if (!anchor_) return std::nullopt;
    return (*anchor_ + ticksOf(fieldsSince_)) & CheckContext::kClockMask;
}

void VideoCheck::checkStamp(Position pos) {
    if (!stamp_ || pos < stamp_->at || pos >= stamp_->end) return;
    const Stamp stamp = *stamp_;
    stamp_.reset();
    // The decode time: the DTS, or the PTS where the two are one (a B
    // picture, or a stream without B pictures, whose order is not changed).
    std::optional<uint64_t> time = stamp.dts;
    if (!time && (picture_.header.codingType == 3 || !sawB_)) time = stamp.pts;
    if (!time) return;
    const std::optional<uint64_t> expected = expectedTime();
    if (expected && sequence_.rate.frames != 0) {
        const int64_t ahead = clockDifference(*time, *expected);
        // Repeated fields make the decode times of reordered pictures
        // differ from the sum of their durations by up to a field each.
        const int64_t tolerance = static_cast<int64_t>(ticksOf(sawRepeat_ ? 3 : 1));
        if (ahead > tolerance && confirmed_) {
            const int64_t frame = static_cast<int64_t>(ticksOf(2));
            emit(stampSeam_.before, stampSeam_.after, FindingKind::Gap, FindingCause::StampJump,
                 static_cast<uint32_t>((ahead + frame / 2) / frame), expected, time);
            group_.spoiled = true;
            heldReference_.reset();
        }
    }
    releaseReference();
    anchor_ = time;
    fieldsSince_ = 0;
}

void VideoCheck::endPicture() {
    if (!picture_.open) return;
    picture_.open = false;
    fieldsSince_ += fieldsOf(picture_);
    countReference();
}

void VideoCheck::countReference() {
    if (!picture_.headerRead) return;
    const uint16_t reference = picture_.header.temporalReference;
    // The second field of a frame coded as two fields repeats the first
    // one's reference.
    const bool field = picture_.coding.structure != 3;
    if (field && firstFieldOpen_ && firstFieldReference_ == reference) {
        firstFieldOpen_ = false;
        return;
    }
    firstFieldOpen_ = field;
    firstFieldReference_ = reference;
    if (!group_.checked) return;
    if (group_.seen[reference]) {
        ++group_.doubled;
        return;
    }
    group_.seen[reference] = true;
    ++group_.distinct;
    group_.highest = std::max<uint32_t>(group_.highest, reference);
}

void VideoCheck::closeGroup(Position end, bool whole) {
    if (group_.checked && !group_.spoiled && confirmed_) {
        // A group cut off by the end of a recording lacks its last
        // references; one whose link is broken lacks its first.
        uint32_t missing = 0;
        if (whole && !group_.brokenLink && group_.distinct > 0) {
            missing = group_.highest + 1 - group_.distinct;
        }
        if (missing + group_.doubled > 0) {
            // Held until the next stamp tells whether pictures were lost
            // whole there: a gap explains the references it took.
            releaseReference();
            heldReference_ = finding(group_.start, end, FindingKind::PayloadDamage,
                                     FindingCause::TemporalReference, missing + group_.doubled,
                                     std::nullopt, std::nullopt);
        }
    }
    group_ = {};
}

void VideoCheck::startDamage(FindingCause cause) {
    if (!confirmed_) {
        // No MPEG-1 or MPEG-2 video as far as seen: another kind (MPEG-4
        // part 2 and H.264 use start codes too) or a stretch of damage
        // before the first sequence header. Look on without a finding.
        restart();
        sequence_ = {};
        return;
    }
    damageStart_ = unitStart_;
    damageCause_ = cause;
    damageTime_ = expectedTime();
    place_ = Place::Damaged;
    group_.spoiled = true;
    // How many pictures the damaged stretch held is not known: the time
    // counts afresh from the next stamp.
    anchor_.reset();
    fieldsSince_ = 0;
}

void VideoCheck::endDamage(Position end) {
    emit(damageStart_, end, FindingKind::PayloadDamage, damageCause_, 1, damageTime_, damageTime_);
}

void VideoCheck::releaseReference() {
    if (heldReference_) context_.add(*heldReference_);
    heldReference_.reset();
}

void VideoCheck::emit(Position begin, Position end, FindingKind kind, FindingCause cause,
                      uint32_t frames, std::optional<uint64_t> from, std::optional<uint64_t> to) {
    context_.add(finding(begin, end, kind, cause, frames, from, to));
}

Finding VideoCheck::finding(Position begin, Position end, FindingKind kind, FindingCause cause,
                            uint32_t frames, std::optional<uint64_t> from,
                            std::optional<uint64_t> to) const {
    Finding f;
    f.begin = begin;
    f.end = std::max(begin, end);
    f.kind = kind;
    f.cause = cause;
    f.stream = stream_;
    f.frames = frames;
    if (from) f.timeFrom = context_.since(*from);
    if (to) f.timeTo = context_.since(*to);
    return f;
}

}  // namespace mpg
