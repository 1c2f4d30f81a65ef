// The repair page's controls as designed for a window 618 by 422 pixels:
// their object names, places and texts. The panels follow the page's width,
// and the controls on their right the panels' width.
#pragma once

#include "ui/page_kit.h"

namespace mpg::ui {

inline constexpr const char* kRepairPageContext = "mpg::ui::RepairPage";

namespace repair_layout {

constexpr int kPanelTTHeight = 82;
// Four strategies, one row each, above the output row.
constexpr int kPanelBBHeight = 129;
// The filter field and the count of rows shown, between the top panel and
// the list.
constexpr int kFilterHeight = 24;
constexpr int kFilterWidth = 260;
constexpr const char* EditFILTERHint = QT_TRANSLATE_NOOP(
    "mpg::ui::RepairPage",
    "показать только часть строк; слова через пробел, должны выполняться все виды:\n"
    "E0, BD, C0-C1 — код блока (последние две цифры) или их диапазон;\n"
    "d>=100, d<0, d=300 — дельта (>=, <=, >, <, =);\n"
    "r=00, r=00-1F — байт самого длинного повтора;\n"
    "block, junk, hole, gap, payload, sector, decode — вид повреждения.\n"
    "Фильтр меняет только показ: молоток чинит все блоки списка, и скрытые тоже.");
constexpr const char* EditFILTERPlaceholder =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "фильтр: E0 C0-C1 d>=100 r=00");
constexpr const char* MInextText = QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "следующий битый блок");
constexpr const char* MIprevText =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "предыдущий битый блок");
constexpr const char* ImageHAMMERHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "починить выбранным способом все блоки списка, в том числе скрытые фильтром");

constexpr ControlSpec ImageFI{"ImageFI", {72, 10, 17, 17}};
constexpr ControlSpec EditIN{"EditIN", {96, 8, 385, 21}};
constexpr ControlSpec BitBtnOP{
    "BitBtnOP", {496, 8, 97, 21}, QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "open")};
constexpr ControlSpec BitBtnGO{
    "BitBtnGO", {496, 44, 97, 21}, QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "го")};
constexpr ControlSpec BevelTT{"BevelTT", {70, 35, 523, 3}};
constexpr ControlSpec GaugeZZ{"GaugeZZ", {18, 20, 33, 33}};
constexpr ControlSpec LabelPTR{"LabelPTR", {72, 48, 0, 0}};
// Three lines high: a failure names its file and the system's reason after
// the text, and the summary of an automatic repair, or of the check of its
// output, takes three lines at the design width. What does not fit shows in
// the label's tool tip.
constexpr ControlSpec LabelST{"LabelST", {296, 40, 185, 39}};
constexpr ControlSpec Bevel2{"Bevel2", {280, 44, 3, 31}};
constexpr ControlSpec Bevel3{"Bevel3", {285, 44, 3, 31}};
constexpr ControlSpec ImageEX{"ImageEX", {259, 49, 13, 13}};
// Under the progress line: whether the scans decode the streams as well.
constexpr ControlSpec CheckDecode{
    "CheckDecode",
    {72, 62, 200, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "проверять декодированием")};
constexpr const char* CheckDecodeHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "при сканировании ещё и декодировать видео и звук и отмечать кадры, в "
                      "которых декодер находит ошибки; это намного дольше простого сканирования");
constexpr const char* ImageFIHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "выбрать входной файл");
constexpr const char* ImageEXHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "из потока вырезаны области: сохранение их пропустит");

constexpr ControlSpec RadioEQ{
    "RadioEQ",
    {15, 17, 337, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "убрать области повторов, там где их размеры равны дельте")};
constexpr const char* RadioEQHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "исправлять ничего не надо, ибо заявленный размер станет равен реальному.");
constexpr ControlSpec RadioRERE{
    "RadioRERE",
    {15, 33, 292, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "убрать области повторов и пересканировать pack-и")};
constexpr ControlSpec RadioISALL{
    "RadioISALL",
    {15, 49, 209, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "исправить размеры кривых блоков")};
constexpr ControlSpec RadioAUTO{
    "RadioAUTO",
    {15, 65, 209, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "подобрать ремонт автоматически")};
constexpr const char* RadioAUTOHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "для каждого блока ищется вырезка, после которой он кончается там, где "
                      "начинается следующий; что сделано с блоком, видно в списке");
constexpr ControlSpec Bevel1{"Bevel1", {354, 19, 3, 62}};
constexpr ControlSpec Bevel7{"Bevel7", {357, 19, 3, 62}};
constexpr ControlSpec CheckDP{"CheckDP",
                              {366, 17, 170, 17},
                              QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "если дельта положительна")};
constexpr ControlSpec CheckZR{"CheckZR",
                              {366, 33, 139, 17},
                              QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "только повторы нулей")};
// Enabled only while the input is a video CD rip; the output's name follows it.
constexpr ControlSpec CheckWrapDat{
    "CheckWrapDat",
    {366, 66, 185, 17},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "сохранить секторами .dat")};
constexpr const char* CheckWrapDatHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage",
                      "записать исправленный поток снова как образ .dat: заголовок RIFF CDXA, "
                      "секторы с новыми адресами после первого разреза и новыми EDC");
constexpr ControlSpec LabelMS{
    "LabelMS",
    {365, 50, 0, 0},
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "размеры повторов не менее               байт")};
constexpr ControlSpec EditMS{"EditMS", {518, 47, 33, 19}, "100"};
constexpr ControlSpec ImageWA{"ImageWA", {308, 38, 45, 30}};
constexpr ControlSpec ImageHAMMER{"ImageHAMMER", {560, 8, 33, 33}};
constexpr ControlSpec BevelBB{"BevelBB", {16, 85, 577, 3}};
constexpr ControlSpec EditOUT{"EditOUT", {16, 97, 401, 21}};
constexpr ControlSpec BitBtnVERIFY{"BitBtnVERIFY",
                                   {425, 97, 125, 21},
                                   QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "проверить результат")};
constexpr const char* BitBtnVERIFYHint = QT_TRANSLATE_NOOP(
    "mpg::ui::RepairPage",
    "просканировать только что сохранённый файл; блоки с переписанной длиной "
    "и дополненные блоки такая проверка считает целыми, поэтому они названы отдельно");
constexpr ControlSpec ImageSA{"ImageSA", {560, 97, 20, 20}};
constexpr const char* ImageWAHint = QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "идёт ремонт");
constexpr const char* ImageSAHint =
    QT_TRANSLATE_NOOP("mpg::ui::RepairPage", "сохранить исправленный поток в выходной файл");

// The action column: a typical action's width where the other columns keep
// about 90 pixels each beside the first three, and never less than the
// least; a longer action shows whole in its cell's tool tip.
constexpr int kActionLeast = 110;
constexpr int kOtherColumnsLeast = 620;
constexpr const char* kTypicalAction = "вырезано 1'234 байт 00 с позиции 1'234'567'890 — вероятно";
}  // namespace repair_layout

}  // namespace mpg::ui
