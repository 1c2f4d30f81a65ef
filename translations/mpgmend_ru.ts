<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru" sourcelanguage="ru">
<context>
    <name>Message</name>
    <message numerus="yes">
        <source>%n байт</source>
        <translation>
            <numerusform>%n байт</numerusform>
            <numerusform>%n байта</numerusform>
            <numerusform>%n байт</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>-------- пропущено %n байт</source>
        <translation>
            <numerusform>-------- пропущен %n байт</numerusform>
            <numerusform>-------- пропущено %n байта</numerusform>
            <numerusform>-------- пропущено %n байт</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>дополнен %n байтами</source>
        <translation>
            <numerusform>дополнен %n байтом</numerusform>
            <numerusform>дополнен %n байтами</numerusform>
            <numerusform>дополнен %n байтами</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>вырезано %n байт%1 с позиции %2</source>
        <translation>
            <numerusform>вырезан %n байт%1 с позиции %2</numerusform>
            <numerusform>вырезано %n байта%1 с позиции %2</numerusform>
            <numerusform>вырезано %n байт%1 с позиции %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>блоков: %1; восстановлено точно: %2, стали декодируемыми: %3, не решено: %4</source>
        <translation>
            <numerusform>блоков: %1; восстановлено точно: %2, стали декодируемыми: %3, не решено: %4</numerusform>
            <numerusform>блоков: %1; восстановлено точно: %2, стали декодируемыми: %3, не решено: %4</numerusform>
            <numerusform>блоков: %1; восстановлено точно: %2, стали декодируемыми: %3, не решено: %4</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n блоков, %1 с ошибками</source>
        <translation>
            <numerusform>%n блок, %1 с ошибками</numerusform>
            <numerusform>%n блока, %1 с ошибками</numerusform>
            <numerusform>%n блоков, %1 с ошибками</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>исправлено строк: %1, вырезано %n байт, осталось: %2</source>
        <translation>
            <numerusform>исправлено строк: %1, вырезан %n байт, осталось: %2</numerusform>
            <numerusform>исправлено строк: %1, вырезано %n байта, осталось: %2</numerusform>
            <numerusform>исправлено строк: %1, вырезано %n байт, осталось: %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>укорочено строк: %1, вырезано %n байт, осталось: %2</source>
        <translation>
            <numerusform>укорочено строк: %1, вырезан %n байт, осталось: %2</numerusform>
            <numerusform>укорочено строк: %1, вырезано %n байта, осталось: %2</numerusform>
            <numerusform>укорочено строк: %1, вырезано %n байт, осталось: %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>вырезано %n байт</source>
        <translation>
            <numerusform>вырезан %n байт</numerusform>
            <numerusform>вырезано %n байта</numerusform>
            <numerusform>вырезано %n байт</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>кусок %1 (%2): %n блоков с ошибками</source>
        <translation>
            <numerusform>кусок %1 (%2): %n блок с ошибками</numerusform>
            <numerusform>кусок %1 (%2): %n блока с ошибками</numerusform>
            <numerusform>кусок %1 (%2): %n блоков с ошибками</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>mpg::ui::RepairPage</name>
    <message numerus="yes">
        <source>ошибки загружены: %1, %2 строк</source>
        <translation>
            <numerusform>ошибки загружены: %1, %2 строка</numerusform>
            <numerusform>ошибки загружены: %1, %2 строки</numerusform>
            <numerusform>ошибки загружены: %1, %2 строк</numerusform>
        </translation>
    </message>
</context>
</TS>
