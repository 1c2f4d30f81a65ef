// The texts of findings: their kinds, the tooltips that explain them, their
// causes, and the summary that counts them by kind.
#include <cstdio>

#include "text/messages.h"

namespace mpg {

namespace {

std::string text(Language language, const char* source) {
    return translateTo(language, "Finding", source);
}

}  // namespace

std::string findingKindText(FindingKind kind, Language language) {
    switch (kind) {
        case FindingKind::BrokenBlock:
            return text(language, MPG_TR_NOOP("Finding", "испорченный блок"));
        case FindingKind::Junk:
            return text(language, MPG_TR_NOOP("Finding", "мусор"));
        case FindingKind::Hole:
            return text(language, MPG_TR_NOOP("Finding", "дыра"));
        case FindingKind::Gap:
            return text(language, MPG_TR_NOOP("Finding", "пропуск"));
        case FindingKind::PayloadDamage:
            return text(language, MPG_TR_NOOP("Finding", "повреждённые данные"));
        case FindingKind::FaultySector:
            return text(language, MPG_TR_NOOP("Finding", "сбойный сектор"));
        case FindingKind::DecodeError:
            break;
    }
    return text(language, MPG_TR_NOOP("Finding", "ошибка декодера"));
}

std::string findingKindTip(FindingKind kind, Language language) {
    switch (kind) {
        case FindingKind::BrokenBlock:
            return text(language, MPG_TR_NOOP("Finding",
                                              "размер, заявленный в заголовке блока, не ведёт к "
                                              "следующему блоку: байты вставлены или потеряны"));
        case FindingKind::Junk:
            return text(language, MPG_TR_NOOP("Finding",
                                              "байты, не принадлежащие потоку: тег, кусок "
                                              "сектора, данные за концом потока"));
        case FindingKind::Hole:
            return text(language, MPG_TR_NOOP("Finding",
                                              "нули на месте пакетов: часы или кадры потока "
                                              "перескакивают через них"));
        case FindingKind::Gap:
            return text(language, MPG_TR_NOOP("Finding",
                                              "байты потеряны целиком, блоки остались целыми: "
                                              "часы или кадры потока перескакивают"));
        case FindingKind::PayloadDamage:
            return text(language, MPG_TR_NOOP("Finding",
                                              "кадры внутри пакетов не разбираются или не "
                                              "проходят проверку: байты данных изменены"));
        case FindingKind::FaultySector:
            return text(language, MPG_TR_NOOP("Finding",
                                              "сектор образа диска с неверным заголовком или "
                                              "контрольной суммой: диск прочитан с ошибкой"));
        case FindingKind::DecodeError:
            break;
    }
    return text(language,
                MPG_TR_NOOP("Finding", "декодер сообщил об ошибке в кадрах этого участка"));
}

std::string findingCauseText(FindingCause cause, Language language) {
    switch (cause) {
        case FindingCause::None:
            return {};
        case FindingCause::LeadingJunk:
            return text(language, MPG_TR_NOOP("Finding", "байты перед первым заголовком пака"));
        case FindingCause::TrailingJunk:
            return text(language, MPG_TR_NOOP("Finding", "байты за последним блоком"));
        case FindingCause::ScrAhead:
            return text(
                language,
                MPG_TR_NOOP("Finding", "SCR впереди времени байтов при заявленной скорости"));
        case FindingCause::ScrBehind:
            return text(language,
                        MPG_TR_NOOP("Finding", "байтов больше, чем несёт скорость за время SCR"));
        case FindingCause::StampJump:
            return text(language, MPG_TR_NOOP("Finding", "PTS/DTS перескакивает вперёд"));
        case FindingCause::StampBack:
            return text(language, MPG_TR_NOOP("Finding", "PTS/DTS идёт назад"));
        case FindingCause::ZeroRun:
            return text(language, MPG_TR_NOOP("Finding",
                                              "нулевые байты, через которые поток "
                                              "перескакивает"));
        case FindingCause::AudioChain:
            return text(language, MPG_TR_NOOP("Finding",
                                              "длина кадра MPEG audio не ведёт к "
                                              "следующему заголовку"));
        case FindingCause::AudioCrc:
            return text(language, MPG_TR_NOOP("Finding", "CRC-16 кадра MPEG audio не сходится"));
        case FindingCause::Ac3Sync:
            return text(
                language,
                MPG_TR_NOOP("Finding", "размер кадра AC-3 не ведёт к следующему синхрослову"));
        case FindingCause::Ac3Crc:
            return text(language, MPG_TR_NOOP("Finding", "CRC кадра AC-3 не сходится"));
        case FindingCause::VideoOrder:
            return text(language, MPG_TR_NOOP("Finding", "стартовые коды видео не по порядку"));
        case FindingCause::SliceOrder:
            return text(language, MPG_TR_NOOP("Finding",
                                              "вертикальная позиция слайса идёт назад "
                                              "или за высоту кадра"));
        case FindingCause::TemporalReference:
            return text(language, MPG_TR_NOOP("Finding", "temporal reference нарушает счёт"));
        case FindingCause::Decoder:
            return text(language, MPG_TR_NOOP("Finding", "ошибка декодера"));
        case FindingCause::SectorFault:
            return text(language, MPG_TR_NOOP("Finding", "заголовок или EDC сектора"));
        case FindingCause::Stop:
            break;
    }
    return text(language, MPG_TR_NOOP("Finding", "дальше не проверено: поиск прерван"));
}

std::string findingTipText(FindingKind kind, FindingCause cause, Language language) {
    std::string tip = findingKindTip(kind, language);
    const std::string why = findingCauseText(cause, language);
    if (!why.empty()) tip += "\n" + why;
    return tip;
}

std::string findingWhenText(const Finding& f, Language language) {
    const std::string time = clockTimeText(f.timeFrom);
    if (f.frames == 0) return time;
    const std::string frames =
        fillIn(text(language, MPG_TR_NOOP("Finding", "кадров: %1")), {countText(f.frames)});
    return time.empty() ? frames : time + ", " + frames;
}

std::string findingStreamText(uint8_t stream, uint8_t substream) {
    if (stream == 0) return {};
    char out[8];
    if (substream != 0) {
        std::snprintf(out, sizeof out, "%02X/%02X", unsigned{stream}, unsigned{substream});
    } else {
        std::snprintf(out, sizeof out, "%02X", unsigned{stream});
    }
    return out;
}

std::string clockTimeText(int64_t ticks) {
    if (ticks < 0) return {};
    constexpr int64_t kTicksPerHundredth = 900;
    const int64_t hundredths = ticks / kTicksPerHundredth;
    const int64_t seconds = hundredths / 100;
    char out[32];
    std::snprintf(out, sizeof out, "%lld:%02lld:%02lld.%02lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), static_cast<long long>(hundredths % 100));
    return out;
}

std::string findingListText(const std::vector<size_t>& counts, Language language) {
    std::string list;
    for (size_t k = 0; k < counts.size() && k < size_t{kFindingKinds}; ++k) {
        if (counts[k] == 0) continue;
        if (!list.empty()) list += ", ";
        list += findingKindText(static_cast<FindingKind>(k), language) + ' ' + countText(counts[k]);
    }
    return list;
}

std::string findingCountsText(const std::vector<size_t>& counts, Language language) {
    const std::string list = findingListText(counts, language);
    if (list.empty()) return list;
    return fillIn(text(language, MPG_TR_NOOP("Finding", "находки: %1")), {list});
}

}  // namespace mpg
