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
        <source>в записанном файле осталось: %1 (во входном: %2)</source>
        <translation>left in the written file: %1 (in the input: %2)</translation>
    </message>
    <message>
        <source>блок %1</source>
        <translation>block %1</translation>
    </message>
    <message>
        <source>позиция %1</source>
        <translation>position %1</translation>
    </message>
    <message>
        <source>папка не читается: %1</source>
        <translation>the folder cannot be read: %1</translation>
    </message>
    <message>
        <source>файл</source>
        <translation>file</translation>
    </message>
    <message>
        <source>блоков</source>
        <translation>blocks</translation>
    </message>
    <message>
        <source>испорченных</source>
        <translation>broken</translation>
    </message>
    <message>
        <source>исправлено</source>
        <translation>fixed</translation>
    </message>
    <message>
        <source>результат</source>
        <translation>output</translation>
    </message>
    <message>
        <source>ошибка</source>
        <translation>failed</translation>
    </message>
    <message>
        <source>не записан</source>
        <translation>not written</translation>
    </message>
    <message>
        <source>испорченных блоков нет: файл не записан</source>
        <translation>no broken blocks: no file written</translation>
    </message>
    <message>
        <source>отчёт не записан, исправленный поток сохранён</source>
        <translation>the report was not written, the repaired stream was saved</translation>
    </message>
    <message>
        <source>сбойных секторов</source>
        <translation>faulty sectors</translation>
    </message>
</context>
<context>
    <name>Finding</name>
    <message>
        <source>испорченный блок</source>
        <translation>broken block</translation>
    </message>
    <message>
        <source>мусор</source>
        <translation>junk</translation>
    </message>
    <message>
        <source>дыра</source>
        <translation>hole</translation>
    </message>
    <message>
        <source>пропуск</source>
        <translation>gap</translation>
    </message>
    <message>
        <source>повреждённые данные</source>
        <translation>payload damage</translation>
    </message>
    <message>
        <source>сбойный сектор</source>
        <translation>faulty sector</translation>
    </message>
    <message>
        <source>ошибка декодера</source>
        <translation>decoder error</translation>
    </message>
    <message>
        <source>размер, заявленный в заголовке блока, не ведёт к следующему блоку: байты вставлены или потеряны</source>
        <translation>the size the block&apos;s header declares does not lead to the next block: bytes were inserted or lost</translation>
    </message>
    <message>
        <source>байты, не принадлежащие потоку: тег, кусок сектора, данные за концом потока</source>
        <translation>bytes that are no part of the stream: a tag, a partial sector, data past the stream&apos;s end</translation>
    </message>
    <message>
        <source>нули на месте пакетов: часы или кадры потока перескакивают через них</source>
        <translation>zeros where packets belong: a stream&apos;s clock or frames skip across them</translation>
    </message>
    <message>
        <source>байты потеряны целиком, блоки остались целыми: часы или кадры потока перескакивают</source>
        <translation>bytes lost whole, the blocks left whole: a stream&apos;s clock or frames skip</translation>
    </message>
    <message>
        <source>кадры внутри пакетов не разбираются или не проходят проверку: байты данных изменены</source>
        <translation>frames inside the packets do not parse or fail their check: payload bytes were changed</translation>
    </message>
    <message>
        <source>сектор образа диска с неверным заголовком или контрольной суммой: диск прочитан с ошибкой</source>
        <translation>a sector of the disc image with a wrong header or checksum: the disc was misread</translation>
    </message>
    <message>
        <source>декодер сообщил об ошибке в кадрах этого участка</source>
        <translation>the decoder reported an error in the frames here</translation>
    </message>
    <message>
        <source>байты перед первым заголовком пака</source>
        <translation>bytes in front of the first pack header</translation>
    </message>
    <message>
        <source>байты за последним блоком</source>
        <translation>bytes behind the last block</translation>
    </message>
    <message>
        <source>SCR впереди времени байтов при заявленной скорости</source>
        <translation>SCR ahead of the time the bytes take at the declared rate</translation>
    </message>
    <message>
        <source>байтов больше, чем несёт скорость за время SCR</source>
        <translation>more bytes than the rate carries in the SCR&apos;s time</translation>
    </message>
    <message>
        <source>PTS/DTS перескакивает вперёд</source>
        <translation>PTS/DTS skips ahead</translation>
    </message>
    <message>
        <source>PTS/DTS идёт назад</source>
        <translation>PTS/DTS goes back</translation>
    </message>
    <message>
        <source>нулевые байты, через которые поток перескакивает</source>
        <translation>zero bytes the stream skips across</translation>
    </message>
    <message>
        <source>длина кадра MPEG audio не ведёт к следующему заголовку</source>
        <translation>an MPEG audio frame&apos;s length does not lead to the next header</translation>
    </message>
    <message>
        <source>CRC-16 кадра MPEG audio не сходится</source>
        <translation>an MPEG audio frame&apos;s CRC-16 does not match</translation>
    </message>
    <message>
        <source>размер кадра AC-3 не ведёт к следующему синхрослову</source>
        <translation>an AC-3 frame&apos;s size does not lead to the next sync word</translation>
    </message>
    <message>
        <source>CRC кадра AC-3 не сходится</source>
        <translation>an AC-3 frame&apos;s CRC does not match</translation>
    </message>
    <message>
        <source>стартовые коды видео не по порядку</source>
        <translation>video start codes out of order</translation>
    </message>
    <message>
        <source>вертикальная позиция слайса идёт назад или за высоту кадра</source>
        <translation>a slice&apos;s vertical position goes back or past the picture&apos;s height</translation>
    </message>
    <message>
        <source>temporal reference нарушает счёт</source>
        <translation>temporal reference breaks the count</translation>
    </message>
    <message>
        <source>заголовок или EDC сектора</source>
        <translation>the sector&apos;s header or EDC</translation>
    </message>
    <message>
        <source>дальше не проверено: поиск прерван</source>
        <translation>not checked past here: the scan was stopped</translation>
    </message>
    <message>
        <source>кадров: %1</source>
        <translation>frames: %1</translation>
    </message>
    <message>
        <source>находки: %1</source>
        <translation>findings: %1</translation>
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
    <message numerus="yes">
        <source>%n блоков, %1 с ошибками</source>
        <translation>
            <numerusform>%n block, %1 broken</numerusform>
            <numerusform>%n blocks, %1 broken</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>исправлено строк: %1, вырезано %n байт, осталось: %2</source>
        <translation>
            <numerusform>rows fixed: %1, %n byte cut, left: %2</numerusform>
            <numerusform>rows fixed: %1, %n bytes cut, left: %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>укорочено строк: %1, вырезано %n байт, осталось: %2</source>
        <translation>
            <numerusform>rows shortened: %1, %n byte cut, left: %2</numerusform>
            <numerusform>rows shortened: %1, %n bytes cut, left: %2</numerusform>
        </translation>
    </message>
    <message>
        <source>исправлено строк: %1, осталось: %2</source>
        <translation>rows fixed: %1, left: %2</translation>
    </message>
    <message numerus="yes">
        <source>вырезано %n байт</source>
        <translation>
            <numerusform>%n byte cut</numerusform>
            <numerusform>%n bytes cut</numerusform>
        </translation>
    </message>
    <message>
        <source>найдено%1</source>
        <translation>found%1</translation>
    </message>
    <message>
        <source>кусок обрывается, блок не полон</source>
        <translation>the piece is cut short, the block is incomplete</translation>
    </message>
    <message>
        <source>не код начала блока</source>
        <translation>not a block start code</translation>
    </message>
    <message>
        <source>ошибка записи</source>
        <translation>write error</translation>
    </message>
    <message>
        <source>кусок %1 не прочитан</source>
        <translation>piece %1 could not be read</translation>
    </message>
    <message>
        <source>в куске нет ни одного блока потока</source>
        <translation>the piece holds not a single block of a stream</translation>
    </message>
    <message>
        <source>кусок %1 (%2): код конца потока на позиции %3 пропущен, соединение продолжено</source>
        <translation>piece %1 (%2): the end code at position %3 dropped, the join goes on</translation>
    </message>
    <message numerus="yes">
        <source>кусок %1 (%2): %n блоков с ошибками</source>
        <translation>
            <numerusform>piece %1 (%2): %n broken block</numerusform>
            <numerusform>piece %1 (%2): %n broken blocks</numerusform>
        </translation>
    </message>
    <message>
        <source>проверка кусков: %1 из %2</source>
        <translation>checking the pieces: %1 of %2</translation>
    </message>
    <message>
        <source>контрольная сумма (EDC) не сходится</source>
        <translation>checksum (EDC) does not match</translation>
    </message>
    <message>
        <source>сектор не прочитан (одни нули)</source>
        <translation>sector not read (all zeros)</translation>
    </message>
    <message>
        <source>пропущено секторов: %1</source>
        <translation>sectors missing: %1</translation>
    </message>
    <message>
        <source>повтор предыдущего сектора, пропущен</source>
        <translation>repeats the previous sector, left out</translation>
    </message>
    <message>
        <source>адрес сектора не по порядку</source>
        <translation>sector address out of order</translation>
    </message>
    <message>
        <source>повреждён заголовок сектора</source>
        <translation>damaged sector header</translation>
    </message>
    <message>
        <source>байты вне сетки секторов, пропущены</source>
        <translation>bytes off the sector grid, left out</translation>
    </message>
    <message>
        <source>последний сектор обрезан</source>
        <translation>last sector cut short</translation>
    </message>
    <message>
        <source>сбойных секторов: %1</source>
        <translation>faulty sectors: %1</translation>
    </message>
    <message>
        <source>мусор вне потока не записан: в начале %1 байт, в конце %2 байт</source>
        <translation>junk outside the stream left out: %1 bytes in front, %2 bytes behind</translation>
    </message>
    <message>
        <source>это не образ .dat (CDXA): заворачивать в секторы нечего</source>
        <translation>no .dat rip (CDXA): there are no sectors to wrap the stream in</translation>
    </message>
    <message>
        <source>поток не помещается в .dat (4 ГиБ RIFF или 100 минут диска)</source>
        <translation>the stream does not fit into a .dat (4 GiB of RIFF or 100 minutes of disc)</translation>
    </message>
    <message>
        <source>сюда .dat не записать: размеры заголовка RIFF пишутся в его начало в конце, а в канал или на терминал вернуться нельзя</source>
        <translation>no .dat can be written here: the RIFF header&apos;s sizes are written into its start at the end, and a pipe or a terminal cannot go back</translation>
    </message>
    <message>
        <source>ошибки не сохранены: поток не проверен после открытия или ремонта</source>
        <translation>errors not saved: the stream has not been scanned since it was opened or repaired</translation>
    </message>
    <message>
        <source>проверять нечего: результат ещё не сохранён</source>
        <translation>nothing to check: no result has been saved yet</translation>
    </message>
    <message>
        <source>файл уже существует и не заменён</source>
        <translation>the file exists and was not replaced</translation>
    </message>
    <message>
        <source>файл уже существует и не заменён; его заменяет --force</source>
        <translation>the file exists and was not replaced; --force replaces it</translation>
    </message>
    <message>
        <source>проверка была остановлена, поток пройден не до конца</source>
        <translation>the scan was stopped before the end of the stream</translation>
    </message>
    <message>
        <source>не хватает памяти</source>
        <translation>not enough memory</translation>
    </message>
    <message>
        <source>ошибка записи в стандартный вывод</source>
        <translation>cannot write to standard output</translation>
    </message>
</context>
<context>
    <name>mpg::ui::ErrorTableModel</name>
    <message>
        <source>действие</source>
        <translation>action</translation>
    </message>
    <message>
        <source>вид</source>
        <translation>kind</translation>
    </message>
</context>
<context>
    <name>mpg::ui::JoinPage</name>
    <message>
        <source>очистить список</source>
        <translation>clear the list</translation>
    </message>
    <message>
        <source>добавить в список</source>
        <translation>add to the list</translation>
    </message>
    <message>
        <source>удалить</source>
        <translation>remove</translation>
    </message>
    <message>
        <source>*.* (все файлы) (*)</source>
        <translation>*.* (all files) (*)</translation>
    </message>
    <message>
        <source>правая кнопка мыши в левом окне - вызов меню</source>
        <translation>the right mouse button in the left pane opens the menu</translation>
    </message>
    <message>
        <source>нечего клеить. добавьте файлы в список</source>
        <translation>nothing to join. add files to the list</translation>
    </message>
    <message>
        <source>файл с таким именем уже существует. перезаписать?</source>
        <translation>a file with this name already exists. overwrite?</translation>
    </message>
    <message>
        <source>идёт работа</source>
        <translation>working</translation>
    </message>
    <message>
        <source>info</source>
        <translation>info</translation>
    </message>
    <message>
        <source>перед запуском процесса сборки убедитесь,<byte value="xd"/>
что все файлы исправны и являются кусками<byte value="xd"/>
одного фильма.<byte value="xd"/>
</source>
        <translation>before you start the join, make sure
that all the files are sound and are
pieces of one film.
</translation>
    </message>
    <message>
        <source>сгенерить имя выходного файла</source>
        <translation>make up an output file name</translation>
    </message>
    <message>
        <source>iso_end_code из файлов выкидываются; файлы слепляются последовательно, включая system_header каждого файла; в конце файла кладётся один iso_end_code на всех.</source>
        <translation>the files&apos; iso_end_codes are dropped; the files are joined one after another, each with its system_header; one iso_end_code ends the whole file.</translation>
    </message>
    <message>
        <source>убрать все padding паки, кроме первого.</source>
        <translation>drop every padding pack but the first.</translation>
    </message>
    <message>
        <source>оставить только один system header из первого файла.</source>
        <translation>keep one system header only, the first file&apos;s.</translation>
    </message>
    <message>
        <source>если вдруг в середине файлов будут встречаться system headers, то их тоже выкидывать.</source>
        <translation>should system headers turn up in the middle of the files, drop them too.</translation>
    </message>
    <message>
        <source>не надо мудрить, надо просто склеить файлы</source>
        <translation>nothing clever: just glue the files together</translation>
    </message>
    <message>
        <source>склеить</source>
        <translation>join</translation>
    </message>
    <message>
        <source>mess</source>
        <translation>mess</translation>
    </message>
    <message>
        <source>остановить сборку</source>
        <translation>stop the join</translation>
    </message>
    <message>
        <source>непрерывное время (пересчитать SCR/PTS/DTS)</source>
        <translation>continuous time (recompute SCR/PTS/DTS)</translation>
    </message>
    <message>
        <source>проверить куски перед сборкой</source>
        <translation>check the pieces before joining</translation>
    </message>
    <message>
        <source>сборка не начата: кусок %1 открыт для ремонта</source>
        <translation>the join has not started: piece %1 is open for repair</translation>
    </message>
    <message>
        <source>сборка отменена</source>
        <translation>the join was cancelled</translation>
    </message>
    <message>
        <source>в кусках есть блоки с ошибками:
%1
что делать?</source>
        <translation>some pieces have broken blocks:
%1
what now?</translation>
    </message>
    <message>
        <source>сначала исправить</source>
        <translation>repair first</translation>
    </message>
    <message>
        <source>склеить как есть</source>
        <translation>glue as they are</translation>
    </message>
    <message>
        <source>отмена</source>
        <translation>cancel</translation>
    </message>
</context>
<context>
    <name>mpg::ui::RepairPage</name>
    <message>
        <source>посмотреть dump</source>
        <translation>view the dump</translation>
    </message>
    <message>
        <source>сохранить ошибки</source>
        <translation>save the errors</translation>
    </message>
    <message>
        <source>загрузить ошибки</source>
        <translation>load the errors</translation>
    </message>
    <message>
        <source>стоп</source>
        <translation>stop</translation>
    </message>
    <message>
        <source>продолжить проверку<byte value="xd"/>
или начать сначала?</source>
        <translation>continue the scan
or start over?</translation>
    </message>
    <message>
        <source>продолжить</source>
        <translation>continue</translation>
    </message>
    <message>
        <source>сначала</source>
        <translation>start over</translation>
    </message>
    <message>
        <source>идёт проверка потока</source>
        <translation>scanning the stream</translation>
    </message>
    <message>
        <source>го</source>
        <translation>go</translation>
    </message>
    <message>
        <source>прервано пользователем</source>
        <translation>stopped by the user</translation>
    </message>
    <message>
        <source>файл уже существует. перезаписать?</source>
        <translation>the file already exists. overwrite?</translation>
    </message>
    <message>
        <source>идёт сохранение</source>
        <translation>saving</translation>
    </message>
    <message>
        <source>; длина переписана: %1, дополнено: %2</source>
        <translation>; length rewritten: %1, padded: %2</translation>
    </message>
    <message>
        <source>; не решено: %1</source>
        <translation>; unresolved: %1</translation>
    </message>
    <message>
        <source>open</source>
        <translation>open</translation>
    </message>
    <message>
        <source>убрать области повторов, там где их размеры равны дельте</source>
        <translation>cut the runs whose size equals the delta</translation>
    </message>
    <message>
        <source>исправлять ничего не надо, ибо заявленный размер станет равен реальному.</source>
        <translation>nothing needs fixing: the declared size will equal the real one.</translation>
    </message>
    <message>
        <source>убрать области повторов и пересканировать pack-и</source>
        <translation>cut the runs and rescan the packs</translation>
    </message>
    <message>
        <source>исправить размеры кривых блоков</source>
        <translation>fix the sizes of broken blocks</translation>
    </message>
    <message>
        <source>подобрать ремонт автоматически</source>
        <translation>find a repair automatically</translation>
    </message>
    <message>
        <source>для каждого блока ищется вырезка, после которой он кончается там, где начинается следующий; что сделано с блоком, видно в списке</source>
        <translation>for each block a cut is sought after which it ends where the next one begins; the list shows what was done with each block</translation>
    </message>
    <message>
        <source>если дельта положительна</source>
        <translation>if the delta is positive</translation>
    </message>
    <message>
        <source>только повторы нулей</source>
        <translation>only runs of zeros</translation>
    </message>
    <message>
        <source>размеры повторов не менее               байт</source>
        <translation>runs no shorter than                              bytes</translation>
    </message>
    <message>
        <source>проверить результат</source>
        <translation>check the result</translation>
    </message>
    <message>
        <source>просканировать только что сохранённый файл; блоки с переписанной длиной и дополненные блоки такая проверка считает целыми, поэтому они названы отдельно</source>
        <translation>scan the file just saved; such a scan counts blocks with a rewritten length and padded blocks as sound, so they are named separately</translation>
    </message>
    <message>
        <source>показать только часть строк; слова через пробел, должны выполняться все виды:
E0, BD, C0-C1 — код блока (последние две цифры) или их диапазон;
d&gt;=100, d&lt;0, d=300 — дельта (&gt;=, &lt;=, &gt;, &lt;, =);
r=00, r=00-1F — байт самого длинного повтора;
block, junk, hole, gap, payload, sector, decode — вид повреждения.
Фильтр меняет только показ: молоток чинит все блоки списка, и скрытые тоже.</source>
        <translation>show only some rows; words separated by spaces, every kind given must hold:
E0, BD, C0-C1 — the block&apos;s code (its last two digits) or a range of codes;
d&gt;=100, d&lt;0, d=300 — the delta (&gt;=, &lt;=, &gt;, &lt;, =);
r=00, r=00-1F — the byte of the longest run;
block, junk, hole, gap, payload, sector, decode — the kind of damage.
The filter changes only what is shown: the hammer repairs every block in the list, hidden ones too.</translation>
    </message>
    <message>
        <source>фильтр: E0 C0-C1 d&gt;=100 r=00</source>
        <translation>filter: E0 C0-C1 d&gt;=100 r=00</translation>
    </message>
    <message>
        <source>следующий битый блок</source>
        <translation>next broken block</translation>
    </message>
    <message>
        <source>предыдущий битый блок</source>
        <translation>previous broken block</translation>
    </message>
    <message>
        <source>починить выбранным способом все блоки списка, в том числе скрытые фильтром</source>
        <translation>repair every block in the list the chosen way, those the filter hides too</translation>
    </message>
    <message>
        <source>непонятное слово «%1»; показано %2 из %3</source>
        <translation>word not understood: “%1”; shown %2 of %3</translation>
    </message>
    <message>
        <source>диапазон «%1» неоднозначен: код из двух цифр xx значит 000001xx; показано %2 из %3</source>
        <translation>the range “%1” is ambiguous: a code of two digits xx means 000001xx; shown %2 of %3</translation>
    </message>
    <message>
        <source>показано %1 из %2</source>
        <translation>shown %1 of %2</translation>
    </message>
    <message>
        <source>выбрать входной файл</source>
        <translation>choose the input file</translation>
    </message>
    <message>
        <source>из потока вырезаны области: сохранение их пропустит</source>
        <translation>regions are cut from the stream: the save leaves them out</translation>
    </message>
    <message>
        <source>идёт ремонт</source>
        <translation>repairing</translation>
    </message>
    <message>
        <source>сохранить исправленный поток в выходной файл</source>
        <translation>save the repaired stream to the output file</translation>
    </message>
    <message>
        <source>ошибки сохранены: %1</source>
        <translation>errors saved: %1</translation>
    </message>
    <message numerus="yes">
        <source>ошибки загружены: %1, %2 строк</source>
        <translation>
            <numerusform>errors loaded: %1, %2 row</numerusform>
            <numerusform>errors loaded: %1, %2 rows</numerusform>
        </translation>
    </message>
    <message>
        <source>сохранить секторами .dat</source>
        <translation>save as .dat sectors</translation>
    </message>
    <message>
        <source>записать исправленный поток снова как образ .dat: заголовок RIFF CDXA, секторы с новыми адресами после первого разреза и новыми EDC</source>
        <translation>write the repaired stream as a .dat rip again: a RIFF CDXA header, sectors with new addresses after the first cut and new EDCs</translation>
    </message>
    <message>
        <source>проверить %1</source>
        <translation>check %1</translation>
    </message>
    <message>
        <source>идёт проверка результата: %1</source>
        <translation>checking the result: %1</translation>
    </message>
    <message>
        <source>результат %1: блоков %2, с ошибками %3</source>
        <translation>result %1: %2 blocks, %3 broken</translation>
    </message>
    <message>
        <source>; осталось: %1</source>
        <translation>; left: %1</translation>
    </message>
    <message>
        <source>проверять декодированием</source>
        <translation>check by decoding</translation>
    </message>
    <message>
        <source>при сканировании ещё и декодировать видео и звук и отмечать кадры, в которых декодер находит ошибки; это намного дольше простого сканирования</source>
        <translation>also decode the video and audio while scanning and mark the frames the decoder finds errors in; this takes far longer than a plain scan</translation>
    </message>
</context>
<context>
    <name>mpg::ui::SectorTableModel</name>
    <message>
        <source>сектор</source>
        <translation>sector</translation>
    </message>
    <message>
        <source>адрес</source>
        <translation>address</translation>
    </message>
    <message>
        <source>сбой сектора</source>
        <translation>sector fault</translation>
    </message>
    <message>
        <source>позиция в потоке</source>
        <translation>stream position</translation>
    </message>
    <message>
        <source>байт потока</source>
        <translation>stream bytes</translation>
    </message>
</context>
<context>
    <name>mpg::ui::SettingsPage</name>
    <message>
        <source>высокий приоритет задачи</source>
        <translation>high job priority</translation>
    </message>
    <message>
        <source>строго по схеме MPEG-1 (заполнение секторов — ошибка)</source>
        <translation>strictly by the MPEG-1 scheme (sector fill is an error)</translation>
    </message>
    <message>
        <source>как сохранять битые паки</source>
        <translation>how to save broken packs</translation>
    </message>
    <message>
        <source>выставить размер в заголовке по фактическому размеру блока</source>
        <translation>set the size in the header to the block&apos;s real size</translation>
    </message>
    <message>
        <source>если блок длиннее, чем указано в заголовке - обрезать, если короче - добить нулями</source>
        <translation>if a block is longer than its header says, cut it; if shorter, pad it with zeros</translation>
    </message>
    <message>
        <source>язык окон</source>
        <translation>window language</translation>
    </message>
    <message>
        <source>как в системе</source>
        <translation>as the system&apos;s</translation>
    </message>
</context>
<context>
    <name>mpg::ui::StartArguments</name>
    <message>
        <source>ремонт файлов в формате MPEG1</source>
        <translation>MPEG1 file repair</translation>
    </message>
    <message>
        <source>поток MPEG, который открыть на странице ремонта</source>
        <translation>an MPEG stream to open on the repair page</translation>
    </message>
    <message>
        <source>можно открыть только один файл</source>
        <translation>only one file can be opened</translation>
    </message>
</context>
<context>
    <name>mpg::ui::TFormDU</name>
    <message>
        <source>dump</source>
        <translation>dump</translation>
    </message>
    <message>
        <source>блок %1, %2, позиция %3</source>
        <translation>block %1, %2, position %3</translation>
    </message>
    <message>
        <source>позиция: 1234 или 0x4D2</source>
        <translation>position: 1234 or 0x4D2</translation>
    </message>
    <message>
        <source>перейти к позиции в потоке (десятичной или шестнадцатеричной с 0x) и выделить её байт</source>
        <translation>go to a stream position (decimal, or hexadecimal with 0x) and select its byte</translation>
    </message>
    <message>
        <source>повтор</source>
        <translation>run</translation>
    </message>
    <message>
        <source>самый длинный повтор одинаковых байтов в блоке</source>
        <translation>the block&apos;s longest run of equal bytes</translation>
    </message>
    <message>
        <source>лишнее</source>
        <translation>excess</translation>
    </message>
    <message>
        <source>байты за заявленным размером блока</source>
        <translation>bytes past the block&apos;s declared size</translation>
    </message>
    <message>
        <source>нужна позиция: десятичная или 0x…</source>
        <translation>a position is needed: decimal or 0x…</translation>
    </message>
    <message>
        <source>вне блока: %1 – %2</source>
        <translation>outside the block: %1 – %2</translation>
    </message>
    <message>
        <source>эти байты в середине блока не показаны</source>
        <translation>these bytes in the middle of the block are not shown</translation>
    </message>
</context>
<context>
    <name>mpg::ui::TFormMain</name>
    <message>
        <source>ремонт</source>
        <translation>repair</translation>
    </message>
    <message>
        <source>сборка</source>
        <translation>join</translation>
    </message>
    <message>
        <source>настройки</source>
        <translation>settings</translation>
    </message>
    <message>
        <source>сперва остановите поиск</source>
        <translation>stop the scan first</translation>
    </message>
    <message>
        <source>остановить процесс?</source>
        <translation>stop the job?</translation>
    </message>
    <message>
        <source>ремонт файлов в формате MPEG1   ver. %1</source>
        <translation>MPEG1 file repair   ver. %1</translation>
    </message>
    <message>
        <source>домашняя страница программы</source>
        <translation>the program&apos;s home page</translation>
    </message>
</context>
<context>
    <name>mpg::ui::TFormYesNo</name>
    <message>
        <source>Вы действительно хотите удалить текущую запись?</source>
        <translation>Do you really want to delete the current entry?</translation>
    </message>
    <message>
        <source>Вы действительно хотите<byte value="xd"/>
удалить текущую запись?</source>
        <translation>Do you really want
to delete the current entry?</translation>
    </message>
    <message>
        <source>да</source>
        <translation>yes</translation>
    </message>
    <message>
        <source>нет</source>
        <translation>no</translation>
    </message>
</context>
</TS>
