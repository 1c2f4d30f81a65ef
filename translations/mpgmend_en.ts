<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>Cli</name>
    <message>
        <source>длина переписана</source>
        <translation>length field rewritten</translation>
    </message>
    <message>
        <source>дополнен нулями</source>
        <translation>padded with zeros</translation>
    </message>
    <message>
        <source>обрезан или дополнен до заявленного размера</source>
        <translation>cut or padded to its declared size</translation>
    </message>
    <message>
        <source>записанный файл проверен: блоков %1, испорченных %2</source>
        <translation>the written file scanned: %1 blocks, %2 broken</translation>
    </message>
    <message>
        <source>испорченные блоки с позиций:%1</source>
        <translation>broken blocks in the written file at:%1</translation>
    </message>
    <message>
        <source>блок %1</source>
        <translation>block %1</translation>
    </message>
    <message>
        <source>позиция %1</source>
        <translation>position %1</translation>
    </message>
</context>
<context>
    <name>Message</name>
    <message>
        <source>файл открыт, заголовок найден</source>
        <translation>file opened, header found</translation>
    </message>
    <message>
        <source>сюда надо положить имя файла</source>
        <translation>no file name given</translation>
    </message>
    <message>
        <source>ошибка открытия файла</source>
        <translation>cannot open the file</translation>
    </message>
    <message>
        <source>это не обычный файл</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>отсутствует сигнатура файла</source>
        <translation>no pack header at the start</translation>
    </message>
    <message>
        <source>отсутствует System Header</source>
        <translation>no system header after the pack header</translation>
    </message>
    <message>
        <source>ошибка чтения файла</source>
        <translation>cannot read the file</translation>
    </message>
    <message>
        <source>входной файл изменился во время работы</source>
        <translation>the input file changed while the job ran</translation>
    </message>
    <message>
        <source>нет файла ошибок</source>
        <translation>no index file</translation>
    </message>
    <message>
        <source>файл ошибок повреждён</source>
        <translation>the index file is damaged</translation>
    </message>
    <message>
        <source>поиск завершен</source>
        <translation>scan finished</translation>
    </message>
    <message>
        <source>найдены потоки:</source>
        <translation>streams found:</translation>
    </message>
    <message>
        <source>сектор</source>
        <translation>sector</translation>
    </message>
    <message>
        <source>прервано пользователем</source>
        <translation>stopped by the user</translation>
    </message>
    <message>
        <source>файл сохранён</source>
        <translation>file saved</translation>
    </message>
    <message>
        <source>ошибка сохранения файла</source>
        <translation>error saving the file</translation>
    </message>
    <message>
        <source>выходной файл совпадает с входным</source>
        <translation>the output is the input</translation>
    </message>
    <message>
        <source>файл уже существует</source>
        <translation>the file already exists</translation>
    </message>
    <message>
        <source>файл уже существует. перезаписать?</source>
        <translation>the file exists; overwrite?</translation>
    </message>
    <message>
        <source>операция завершена</source>
        <translation>join finished</translation>
    </message>
    <message>
        <source>нарушена структура файла</source>
        <translation>the structure of a file is broken</translation>
    </message>
    <message>
        <source>выходной файл совпадает с одним из входных</source>
        <translation>the output is one of the inputs</translation>
    </message>
    <message>
        <source>позиция %1</source>
        <translation>position %1</translation>
    </message>
    <message numerus="yes">
        <source>%n байт</source>
        <translation>
            <numerusform>%n byte</numerusform>
            <numerusform>%n bytes</numerusform>
        </translation>
    </message>
    <message>
        <source>id</source>
        <translation>id</translation>
    </message>
    <message>
        <source>offset в файле</source>
        <translation>offset in file</translation>
    </message>
    <message>
        <source>размер заявленный</source>
        <translation>declared size</translation>
    </message>
    <message>
        <source>размер реальный</source>
        <translation>real size</translation>
    </message>
    <message>
        <source>дельта</source>
        <translation>delta</translation>
    </message>
    <message>
        <source>max повтор</source>
        <translation>longest run</translation>
    </message>
    <message>
        <source>идёт работа    [ %1  &gt;&gt;  %2 ]</source>
        <translation>working    [ %1  &gt;&gt;  %2 ]</translation>
    </message>
    <message numerus="yes">
        <source>-------- пропущено %n байт</source>
        <translation>
            <numerusform>-------- %n byte skipped</numerusform>
            <numerusform>-------- %n bytes skipped</numerusform>
        </translation>
    </message>
    <message>
        <source>оставлен</source>
        <translation>left alone</translation>
    </message>
    <message numerus="yes">
        <source>дополнен %n байтами</source>
        <translation>
            <numerusform>padded with %n byte</numerusform>
            <numerusform>padded with %n bytes</numerusform>
        </translation>
    </message>
    <message>
        <source>длина по файлу</source>
        <translation>length set to what the file holds</translation>
    </message>
    <message>
        <source>цел; за ним заполнение сектора</source>
        <translation>whole; sector fill behind it</translation>
    </message>
    <message>
        <source>отброшен: заголовок неполон</source>
        <translation>dropped: its header is cut short</translation>
    </message>
    <message numerus="yes">
        <source>вырезано %n байт%1 с позиции %2</source>
        <translation>
            <numerusform>cut %n byte%1 at %2</numerusform>
            <numerusform>cut %n bytes%1 at %2</numerusform>
        </translation>
    </message>
    <message>
        <source> (на разрыве потока)</source>
        <translation> (where the stream breaks)</translation>
    </message>
    <message>
        <source>точно</source>
        <translation>exact</translation>
    </message>
    <message>
        <source>вероятно</source>
        <translation>probable</translation>
    </message>
    <message>
        <source>не решено</source>
        <translation>unresolved</translation>
    </message>
    <message numerus="yes">
        <source>блоков: %1; восстановлено точно: %2, стали декодируемыми: %3, не решено: %4</source>
        <translation>
            <numerusform>%n block: %2 restored exactly, %3 made decodable, %4 unresolved</numerusform>
            <numerusform>%n blocks: %2 restored exactly, %3 made decodable, %4 unresolved</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>mpg::ui::ErrorTableModel</name>
    <message>
        <source>действие</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>mpg::ui::JoinPage</name>
    <message>
        <source>очистить список</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>добавить в список</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>удалить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>*.* (все файлы) (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>правая кнопка мыши в левом окне - вызов меню</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>нечего клеить. добавьте файлы в список</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>файл с таким именем уже существует. перезаписать?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>идёт работа</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>mpg::ui::RepairPage</name>
    <message>
        <source>посмотреть dump</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сохранить ошибки</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>загрузить ошибки</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>стоп</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>продолжить проверку<byte value="xd"/>
или начать сначала?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>продолжить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сначала</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>идёт проверка потока</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>го</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>прервано пользователем</source>
        <translation type="unfinished">stopped by the user</translation>
    </message>
    <message>
        <source>поиск завершен</source>
        <translation type="unfinished">scan finished</translation>
    </message>
    <message>
        <source>файл уже существует. перезаписать?</source>
        <translation type="unfinished">the file exists; overwrite?</translation>
    </message>
    <message>
        <source>идёт сохранение</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>идёт проверка результата</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>результат: блоков %1, с ошибками %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>; длина переписана: %1, дополнено: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>; не решено: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>mpg::ui::TFormDU</name>
    <message>
        <source>dump</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>mpg::ui::TFormMain</name>
    <message>
        <source>ремонт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сборка</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>настройки</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сперва остановите поиск</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ремонт файлов в формате MPEG1   ver. 000.21</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>остановить процесс?</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
