<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="ru">
<context>
    <name>Dataset</name>
    <message>
        <source>True;False</source>
        <translation>Да;Нет</translation>
    </message>
    <message>
        <source>Cannot perform this operation on a closed dataset</source>
        <translation>Операция невозможна: набор данных закрыт</translation>
    </message>
    <message>
        <source>Cannot perform this operation on an open dataset</source>
        <translation>Операция невозможна: набор данных открыт</translation>
    </message>
    <message>
        <source>Field '%1' not found</source>
        <translation>Поле «%1» не найдено</translation>
    </message>
    <message>
        <source>No field to add</source>
        <translation>Нет поля для добавления</translation>
    </message>
    <message>
        <source>Duplicate field name '%1'</source>
        <translation>Имя поля «%1» повторяется</translation>
    </message>
    <message>
        <source>Record buffer %1 out of range</source>
        <translation>Буфер записи %1 вне допустимого диапазона</translation>
    </message>
    <message>
        <source>Dataset not in edit or insert mode</source>
        <translation>Набор данных не в режиме правки или вставки</translation>
    </message>
    <message>
        <source>Field '%1' cannot be modified</source>
        <translation>Поле «%1» нельзя изменить</translation>
    </message>
    <message>
        <source>Field '%1' is not indexed and cannot be modified</source>
        <translation>Поле «%1» не индексировано и не может быть изменено</translation>
    </message>
    <message>
        <source>Record not found</source>
        <translation>Запись не найдена</translation>
    </message>
    <message>
        <source>Cannot modify a read-only dataset</source>
        <translation>Нельзя изменить набор данных, открытый только для чтения</translation>
    </message>
    <message>
        <source>Field '%1' must have a value</source>
        <translation>Поле «%1» должно быть заполнено</translation>
    </message>
    <message>
        <source>Cannot perform this operation on an empty dataset</source>
        <translation>Операция невозможна: набор данных пуст</translation>
    </message>
    <message>
        <source>No key fields to search</source>
        <translation>Нет ключевых полей для поиска</translation>
    </message>
    <message>
        <source>The search has %1 key fields but %2 values</source>
        <translation>Для поиска задано ключевых полей: %1, а значений: %2</translation>
    </message>
    <message>
        <source>Row %1 is not buffered</source>
        <translation>Строка %1 не загружена в буфер</translation>
    </message>
    <message>
        <source>Invalid field definition '%1'</source>
        <translation>Неверное описание поля «%1»</translation>
    </message>
    <message>
        <source>string</source>
        <translation>строка</translation>
    </message>
    <message>
        <source>small integer</source>
        <translation>короткое целое</translation>
    </message>
    <message>
        <source>integer</source>
        <translation>целое</translation>
    </message>
    <message>
        <source>word</source>
        <translation>беззнаковое целое</translation>
    </message>
    <message>
        <source>boolean</source>
        <translation>логическое</translation>
    </message>
    <message>
        <source>floating point</source>
        <translation>с плавающей точкой</translation>
    </message>
    <message>
        <source>date</source>
        <translation>дата</translation>
    </message>
    <message>
        <source>date and time</source>
        <translation>дата и время</translation>
    </message>
    <message>
        <source>binary</source>
        <translation>двоичное</translation>
    </message>
    <message>
        <source>memo</source>
        <translation>мемо</translation>
    </message>
    <message>
        <source>Field type not supported for field '%1'</source>
        <translation>Тип поля «%1» не поддерживается</translation>
    </message>
    <message>
        <source>Field '%1' has no dataset</source>
        <translation>Поле «%1» не связано с набором данных</translation>
    </message>
    <message>
        <source>'%1' is not a valid %2 value for field '%3'</source>
        <translation>«%1» — недопустимое значение (%2) для поля «%3»</translation>
    </message>
    <message>
        <source>'%1' is too long for field '%2' (at most %3 characters)</source>
        <translation>«%1» слишком длинно для поля «%2» (не более %3 символов)</translation>
    </message>
    <message>
        <source>%1 is not a valid value for field '%2'. The allowed range is %3 to %4</source>
        <translation>%1 — недопустимое значение для поля «%2». Допустимый диапазон: от %3 до %4</translation>
    </message>
    <message>
        <source>Invalid display values '%1' for field '%2'</source>
        <translation>Неверные отображаемые значения «%1» для поля «%2»</translation>
    </message>
    <message>
        <source>'%1' is not a valid date for field '%2'</source>
        <translation>«%1» — недопустимая дата для поля «%2»</translation>
    </message>
    <message>
        <source>'%1' is not a valid date and time for field '%2'</source>
        <translation>«%1» — недопустимые дата и время для поля «%2»</translation>
    </message>
    <message>
        <source>Cannot write field '%1'</source>
        <translation>Не удаётся записать поле «%1»</translation>
    </message>
    <message>
        <source>The in-memory table has no field definitions</source>
        <translation>У таблицы в памяти нет описаний полей</translation>
    </message>
    <message>
        <source>Record %1 not found</source>
        <translation>Запись %1 не найдена</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>xBase tables</source>
        <translation>Таблицы xBase</translation>
    </message>
    <message>
        <source>Last DBF update: Date: </source>
        <translation>Последнее изменение DBF: дата: </translation>
    </message>
    <message>
        <source>, Time: </source>
        <translation>, время: </translation>
    </message>
    <message>
        <source>, User: </source>
        <translation>, пользователь: </translation>
    </message>
    <message>
        <source>The value of %1 holds every quote character</source>
        <translation>Значение %1 содержит все виды кавычек</translation>
    </message>
    <message>
        <source>A filter cannot compare the field %1 with a value</source>
        <translation>Фильтр не может сравнить поле %1 со значением</translation>
    </message>
    <message>
        <source>Locks: Clipper</source>
        <translation>Блокировки: Clipper</translation>
    </message>
    <message>
        <source>Locks: FoxPro</source>
        <translation>Блокировки: FoxPro</translation>
    </message>
    <message>
        <source>Locks: dBase IV</source>
        <translation>Блокировки: dBase IV</translation>
    </message>
    <message>
        <source>Locks: Default</source>
        <translation>Блокировки: по умолчанию</translation>
    </message>
    <message>
        <source>'%1' is not a date and time</source>
        <translation>«%1» — не дата и время</translation>
    </message>
    <message>
        <source>'%1' is longer than the field's %2 characters</source>
        <translation>«%1» длиннее поля (%2 символов)</translation>
    </message>
    <message>
        <source>'%1' is not a number the field can hold</source>
        <translation>«%1» — не число, которое может хранить поле</translation>
    </message>
    <message>
        <source>'%1' is not a date</source>
        <translation>«%1» — не дата</translation>
    </message>
    <message>
        <source>'%1' is not a logical value</source>
        <translation>«%1» — не логическое значение</translation>
    </message>
    <message>
        <source>'%1' is longer than the field's %2 bytes</source>
        <translation>«%1» длиннее поля (%2 байт)</translation>
    </message>
</context>
<context>
    <name>TFindCommand</name>
    <message>
        <source>Find</source>
        <translation>Найти</translation>
    </message>
    <message>
        <source>Find next</source>
        <translation>Найти далее</translation>
    </message>
    <message>
        <source>Text to find:</source>
        <translation>Искомый текст:</translation>
    </message>
</context>
<context>
    <name>TMainWindow</name>
    <message>
        <source>Export base in TXT</source>
        <translation>Экспорт таблицы в TXT</translation>
    </message>
</context>
<context>
    <name>Tolvern</name>
    <message>
        <source>Table is busy building an index</source>
        <translation>Таблица занята: строится индекс</translation>
    </message>
    <message>
        <source>Table is busy copying</source>
        <translation>Таблица занята: идёт копирование</translation>
    </message>
    <message>
        <source>Table name missing</source>
        <translation>Не указано имя таблицы</translation>
    </message>
    <message>
        <source>Cannot find file %1</source>
        <translation>Не найден файл %1</translation>
    </message>
    <message>
        <source>Record request beyond range of table</source>
        <translation>Запрошенная запись вне пределов таблицы</translation>
    </message>
    <message>
        <source>Bookmark is invalid for table </source>
        <translation>Неверная закладка для таблицы </translation>
    </message>
    <message>
        <source>Field '%1' cannot be modified</source>
        <translation>Поле «%1» нельзя изменить</translation>
    </message>
    <message>
        <source>Field '%1' is not indexed and cannot be modified</source>
        <translation>Поле «%1» не индексировано и не может быть изменено</translation>
    </message>
    <message>
        <source>Cannot perform this operation on an empty dataset</source>
        <translation>Операция невозможна: набор данных пуст</translation>
    </message>
    <message>
        <source>Cannot modify a read-only dataset</source>
        <translation>Нельзя изменить набор данных, открытый только для чтения</translation>
    </message>
    <message>
        <source>Dataset not in edit or insert mode</source>
        <translation>Набор данных не в режиме правки или вставки</translation>
    </message>
    <message>
        <source>Cannot delete the record</source>
        <translation>Не удаётся удалить запись</translation>
    </message>
    <message>
        <source>Cannot recall the record</source>
        <translation>Не удаётся восстановить запись</translation>
    </message>
    <message>
        <source>Error getting %1: %2</source>
        <translation>Ошибка при открытии %1: %2</translation>
    </message>
    <message>
        <source>Index file %1 already open</source>
        <translation>Индексный файл %1 уже открыт</translation>
    </message>
    <message>
        <source>Error getting %1</source>
        <translation>Ошибка при открытии %1</translation>
    </message>
    <message>
        <source>Circular datalinks are not allowed</source>
        <translation>Циклические связи данных недопустимы</translation>
    </message>
    <message>
        <source>Cannot rename the table to %1</source>
        <translation>Не удаётся переименовать таблицу в %1</translation>
    </message>
    <message>
        <source>Field '%1' has no table</source>
        <translation>Поле «%1» не связано с таблицей</translation>
    </message>
    <message>
        <source>A table is not assigned to this object</source>
        <translation>Этому объекту не назначена таблица</translation>
    </message>
    <message>
        <source>Cannot perform this operation on an open table</source>
        <translation>Операция невозможна: таблица открыта</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>Table exists.  Do you want to overwrite?</source>
        <translation>Таблица уже существует.  Перезаписать её?</translation>
    </message>
    <message>
        <source>Field list is invalid</source>
        <translation>Неверный список полей</translation>
    </message>
    <message>
        <source>Field '%1': the character '%2' does not exist in code page %3</source>
        <translation>Поле «%1»: символа «%2» нет в кодовой странице %3</translation>
    </message>
    <message>
        <source>Field '%1' cannot hold %2</source>
        <translation>Поле «%1» не может хранить %2</translation>
    </message>
    <message>
        <source>this value</source>
        <translation>это значение</translation>
    </message>
    <message>
        <source>this value (%1)</source>
        <translation>это значение (%1)</translation>
    </message>
    <message>
        <source>Field '%1' holds at most %2 characters</source>
        <translation>Поле «%1» вмещает не более %2 символов</translation>
    </message>
    <message>
        <source>the date "%1"</source>
        <translation>дату «%1»</translation>
    </message>
    <message>
        <source>Record is locked by another user</source>
        <translation>Запись заблокирована другим пользователем</translation>
    </message>
    <message>
        <source>The memo of field '%1' could not be written</source>
        <translation>Не удалось записать мемо поля «%1»</translation>
    </message>
    <message>
        <source>These index files could not be opened again and are no longer kept current: %1</source>
        <translation>Эти индексные файлы не удалось открыть снова, и они больше не обновляются: %1</translation>
    </message>
</context>
<context>
    <name>fendral::TAboutBox</name>
    <message>
        <source>About</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>&lt;b&gt;Fendral&lt;/b&gt;&lt;br&gt;Browsing, editing and maintaining xBase tables&lt;br&gt;Table engine: Tolvern</source>
        <translation>&lt;b&gt;Fendral&lt;/b&gt;&lt;br&gt;Просмотр, правка и обслуживание таблиц xBase&lt;br&gt;Движок таблиц: Tolvern</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Версия %1</translation>
    </message>
    <message>
        <source>Licence: not chosen yet</source>
        <translation>Лицензия: пока не выбрана</translation>
    </message>
    <message>
        <source>Licence: %1</source>
        <translation>Лицензия: %1</translation>
    </message>
    <message>
        <source>Settings are kept in %1</source>
        <translation>Настройки хранятся в %1</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>ОК</translation>
    </message>
</context>
<context>
    <name>fendral::TBrowseGrid</name>
    <message>
        <source>Records</source>
        <translation>Записи</translation>
    </message>
    <message>
        <source>%1 (the order of the grid)</source>
        <translation>%1 (порядок таблицы)</translation>
    </message>
</context>
<context>
    <name>fendral::TBrowsePage</name>
    <message>
        <source>All memo</source>
        <translation>Все мемо</translation>
    </message>
    <message>
        <source>Visible all memo</source>
        <translation>Показать все мемо</translation>
    </message>
    <message>
        <source>Deleted records</source>
        <translation>Удалённые записи</translation>
    </message>
    <message>
        <source>Visible Deleted Records</source>
        <translation>Показывать удалённые записи</translation>
    </message>
    <message>
        <source>Dos</source>
        <translation>DOS</translation>
    </message>
    <message>
        <source>Change code 866 &lt;-&gt; 1251</source>
        <translation>Переключить кодировку 866 &lt;-&gt; 1251</translation>
    </message>
    <message>
        <source>Exact count</source>
        <translation>Точный счёт</translation>
    </message>
    <message>
        <source>Exact count ON or OFF</source>
        <translation>Точный подсчёт записей: вкл./выкл.</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Фильтр</translation>
    </message>
    <message>
        <source>Visible filter panel</source>
        <translation>Показать панель фильтра</translation>
    </message>
    <message>
        <source>Available Index Tag</source>
        <translation>Индексный тег</translation>
    </message>
    <message>
        <source>Filter expression</source>
        <translation>Выражение фильтра</translation>
    </message>
    <message>
        <source>Filter ON or OFF</source>
        <translation>Фильтр: вкл./выкл.</translation>
    </message>
    <message>
        <source>%1 (damaged)</source>
        <translation>%1 (повреждён)</translation>
    </message>
    <message>
        <source>Fields: </source>
        <translation>Поля: </translation>
    </message>
</context>
<context>
    <name>fendral::TExportDialog</name>
    <message>
        <source>CSV</source>
        <translation>CSV</translation>
    </message>
    <message>
        <source>JSON Lines + schema</source>
        <translation>JSON Lines + схема</translation>
    </message>
    <message>
        <source>SQLite</source>
        <translation>SQLite</translation>
    </message>
    <message>
        <source>&amp;Format:</source>
        <translation>&amp;Формат:</translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation>&amp;Обзор...</translation>
    </message>
    <message>
        <source>F&amp;ile:</source>
        <translation>Ф&amp;айл:</translation>
    </message>
    <message>
        <source>&amp;Delimiter:</source>
        <translation>&amp;Разделитель:</translation>
    </message>
    <message>
        <source>&amp;Encoding:</source>
        <translation>&amp;Кодировка:</translation>
    </message>
    <message>
        <source>&amp;Header row</source>
        <translation>&amp;Строка заголовков</translation>
    </message>
    <message>
        <source>&amp;With deleted records</source>
        <translation>&amp;Включая удалённые записи</translation>
    </message>
    <message>
        <source>&amp;Current order and filter</source>
        <translation>&amp;Текущий порядок и фильтр</translation>
    </message>
    <message>
        <source>&amp;All records</source>
        <translation>&amp;Все записи</translation>
    </message>
    <message>
        <source>Records:</source>
        <translation>Записи:</translation>
    </message>
</context>
<context>
    <name>fendral::TMainWindow</name>
    <message>
        <source>The table is already in the Windows (ANSI) code page %1; it was not converted.</source>
        <translation>Таблица уже в кодовой странице Windows (ANSI) %1; она не преобразована.</translation>
    </message>
    <message>
        <source>The table is already in the DOS (OEM) code page %1; it was not converted.</source>
        <translation>Таблица уже в кодовой странице DOS (OEM) %1; она не преобразована.</translation>
    </message>
    <message>
        <source>No Windows (ANSI) code page is known for the DOS code page %1; the table was not converted.</source>
        <translation>Для кодовой страницы DOS %1 неизвестна кодовая страница Windows (ANSI); таблица не преобразована.</translation>
    </message>
    <message>
        <source>Modify DBF</source>
        <translation>Изменить DBF</translation>
    </message>
    <message>
        <source>Convert DOS -&gt; ANSII</source>
        <translation>Перекодировать DOS -&gt; ANSI</translation>
    </message>
    <message>
        <source>Convert ANSII -&gt; DOS</source>
        <translation>Перекодировать ANSI -&gt; DOS</translation>
    </message>
    <message>
        <source>Tables of version 0x30 (Visual FoxPro) cannot be rebuilt; the table was not changed.</source>
        <translation>Таблицы версии 0x30 (Visual FoxPro) нельзя перестроить; таблица не изменена.</translation>
    </message>
    <message>
        <source>record %1, field %2
</source>
        <translation>запись %1, поле %2
</translation>
    </message>
    <message>
        <source>and more
</source>
        <translation>и другие
</translation>
    </message>
    <message>
        <source>These values do not fit their new fields:
%1
Text is cut to the new width, other values are left blank. Modify the table?</source>
        <translation>Эти значения не помещаются в новые поля:
%1
Текст будет обрезан до новой ширины, остальные значения останутся пустыми. Изменить таблицу?</translation>
    </message>
    <message>
        <source>These index tags no longer fit the table and were removed:
%1</source>
        <translation>Эти индексные теги больше не подходят к таблице и удалены:
%1</translation>
    </message>
    <message>
        <source>Add a field (Insert)</source>
        <translation>Добавить поле (Insert)</translation>
    </message>
    <message>
        <source>Delete the field (Ctrl+Delete)</source>
        <translation>Удалить поле (Ctrl+Delete)</translation>
    </message>
    <message>
        <source>New DBF</source>
        <translation>Новая DBF</translation>
    </message>
    <message>
        <source>Field %1: %2</source>
        <translation>Поле %1: %2</translation>
    </message>
    <message>
        <source>a field of type %1 keeps its type, width and decimals</source>
        <translation>у поля типа %1 нельзя менять тип, ширину и число десятичных знаков</translation>
    </message>
    <message>
        <source>a number is 1 to %1 characters wide</source>
        <translation>ширина числа — от 1 до %1 символов</translation>
    </message>
    <message>
        <source>%1 is empty</source>
        <translation>%1 не заполнено</translation>
    </message>
    <message>
        <source>a name starts with a letter and holds letters, digits and _</source>
        <translation>имя начинается с буквы и состоит из букв, цифр и _</translation>
    </message>
    <message>
        <source>the name %1 is there already</source>
        <translation>имя %1 уже есть</translation>
    </message>
    <message>
        <source>unknown type "%1"</source>
        <translation>неизвестный тип «%1»</translation>
    </message>
    <message>
        <source>a character field of this table type is 1 to %1 characters wide</source>
        <translation>ширина символьного поля в таблице этого типа — от 1 до %1 символов</translation>
    </message>
    <message>
        <source>a number of width %1 has 0 to %2 decimals</source>
        <translation>у числа ширины %1 от 0 до %2 десятичных знаков</translation>
    </message>
    <message>
        <source>A %1 table cannot hold the field %2 of type %3. The table was not changed.</source>
        <translation>Таблица %1 не может содержать поле %2 типа %3. Таблица не изменена.</translation>
    </message>
    <message>
        <source>Convert the table from %1 to %2?

Version byte: 0x%3 -&gt; 0x%4
</source>
        <translation>Преобразовать таблицу из %1 в %2?

Байт версии: 0x%3 -&gt; 0x%4
</translation>
    </message>
    <message>
        <source>FoxPro</source>
        <translation>FoxPro</translation>
    </message>
    <message>
        <source>dBase IV</source>
        <translation>dBase IV</translation>
    </message>
    <message>
        <source>dBase III</source>
        <translation>dBase III</translation>
    </message>
    <message>
        <source>none</source>
        <translation>нет</translation>
    </message>
    <message>
        <source>Memo file: %1 -&gt; %2 (%3; every memo is moved)
</source>
        <translation>Мемо-файл: %1 -&gt; %2 (%3; все мемо переносятся)
</translation>
    </message>
    <message>
        <source>Memo file: %1 -&gt; none (no memo field is left)
</source>
        <translation>Мемо-файл: %1 -&gt; нет (мемо-полей не осталось)
</translation>
    </message>
    <message>
        <source>Index file: %1 -&gt; %2
</source>
        <translation>Индексный файл: %1 -&gt; %2
</translation>
    </message>
    <message>
        <source>
These tags cannot be held and are dropped:
</source>
        <translation>
Эти теги невозможно сохранить, они удаляются:
</translation>
    </message>
    <message>
        <source>FPT Block size must be a whole number from 1 to 65535</source>
        <translation>Размер блока FPT должен быть целым числом от 1 до 65535</translation>
    </message>
    <message>
        <source>New index file</source>
        <translation>Новый индексный файл</translation>
    </message>
    <message>
        <source>FoxPro 2.x Index (*.CDX *.cdx);;dBase IV Index (*.MDX *.mdx);;dBase III Index (*.NDX *.ndx);;Clipper Index (*.NTX *.ntx)</source>
        <translation>Индекс FoxPro 2.x (*.CDX *.cdx);;Индекс dBase IV (*.MDX *.mdx);;Индекс dBase III (*.NDX *.ndx);;Индекс Clipper (*.NTX *.ntx)</translation>
    </message>
    <message>
        <source>Cannot delete %1</source>
        <translation>Не удаётся удалить %1</translation>
    </message>
    <message>
        <source>Pack</source>
        <translation>Упаковка</translation>
    </message>
    <message numerus="yes">
        <source>Pack removes %n deleted record(s) for good. Continue?</source>
        <translation>
            <numerusform>Упаковка безвозвратно удалит %n помеченную запись. Продолжить?</numerusform>
            <numerusform>Упаковка безвозвратно удалит %n помеченные записи. Продолжить?</numerusform>
            <numerusform>Упаковка безвозвратно удалит %n помеченных записей. Продолжить?</numerusform>
        </translation>
    </message>
    <message>
        <source>Zap</source>
        <translation>Очистка</translation>
    </message>
    <message>
        <source>Zap removes every record of %1 for good. Continue?</source>
        <translation>Очистка безвозвратно удалит все записи %1. Продолжить?</translation>
    </message>
    <message>
        <source>New name Base</source>
        <translation>Новое имя таблицы</translation>
    </message>
    <message>
        <source>File Name:</source>
        <translation>Имя файла:</translation>
    </message>
    <message>
        <source>File %1 already exists</source>
        <translation>Файл %1 уже существует</translation>
    </message>
    <message>
        <source>Delete Base</source>
        <translation>Удалить таблицу</translation>
    </message>
    <message>
        <source>Delete %1 with its memo and index files for good?</source>
        <translation>Безвозвратно удалить %1 вместе с мемо- и индексными файлами?</translation>
    </message>
    <message>
        <source>Copy structure to base</source>
        <translation>Копировать структуру в таблицу</translation>
    </message>
    <message>
        <source>Copy to new name DBF</source>
        <translation>Копировать в DBF с новым именем</translation>
    </message>
    <message>
        <source>A table cannot be copied onto itself</source>
        <translation>Таблицу нельзя скопировать саму в себя</translation>
    </message>
    <message>
        <source>File %1 already exists. Replace it?</source>
        <translation>Файл %1 уже существует. Заменить его?</translation>
    </message>
    <message>
        <source>What will be a Separator? </source>
        <translation>Какой будет разделитель? </translation>
    </message>
    <message>
        <source>Separator: . , ; : Tab Sps</source>
        <translation>Разделитель: . , ; : Tab Sps</translation>
    </message>
    <message>
        <source>Separator</source>
        <translation>Разделитель</translation>
    </message>
    <message>
        <source>Export name TXT file</source>
        <translation>Имя TXT-файла для экспорта</translation>
    </message>
    <message>
        <source>Cannot create %1: %2</source>
        <translation>Не удаётся создать %1: %2</translation>
    </message>
    <message>
        <source>Record %1, field %2 holds the separator or a line break: that line will not read back as it was.</source>
        <translation>Запись %1, поле %2 содержит разделитель или перевод строки: эта строка не будет прочитана обратно в прежнем виде.</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>Не удаётся записать %1: %2</translation>
    </message>
    <message>
        <source>Export base in TXT</source>
        <translation>Экспорт таблицы в TXT</translation>
    </message>
    <message>
        <source>Import base from TXT</source>
        <translation>Импорт таблицы из TXT</translation>
    </message>
    <message>
        <source>Text files</source>
        <translation>Текстовые файлы</translation>
    </message>
    <message>
        <source>All files</source>
        <translation>Все файлы</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>Не удаётся открыть %1: %2</translation>
    </message>
    <message>
        <source>the memo file cannot take the text</source>
        <translation>мемо-файл не может принять текст</translation>
    </message>
    <message>
        <source>Line %1, field %2: </source>
        <translation>Строка %1, поле %2: </translation>
    </message>
    <message>
        <source>Line %1: </source>
        <translation>Строка %1: </translation>
    </message>
    <message>
        <source>File</source>
        <translation>Файл</translation>
    </message>
    <message>
        <source>File name:</source>
        <translation>Имя файла:</translation>
    </message>
    <message>
        <source>Fendral</source>
        <translation>Fendral</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Просмотр</translation>
    </message>
    <message>
        <source>Structure DBF</source>
        <translation>Структура DBF</translation>
    </message>
    <message>
        <source>Field</source>
        <translation>Поле</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Имя</translation>
    </message>
    <message>
        <source>DBF Type</source>
        <translation>Тип DBF</translation>
    </message>
    <message>
        <source>Len</source>
        <translation>Длина</translation>
    </message>
    <message>
        <source>Dec</source>
        <translation>Дес.</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Файл</translation>
    </message>
    <message>
        <source>Open DBF</source>
        <translation>Открыть DBF</translation>
    </message>
    <message>
        <source>Close DBF</source>
        <translation>Закрыть DBF</translation>
    </message>
    <message>
        <source>Recent tables</source>
        <translation>Недавние таблицы</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>&amp;Database</source>
        <translation>&amp;База</translation>
    </message>
    <message>
        <source>Reindex</source>
        <translation>Переиндексировать</translation>
    </message>
    <message>
        <source>Rename</source>
        <translation>Переименовать</translation>
    </message>
    <message>
        <source>Copy structure to TXT</source>
        <translation>Копировать структуру в TXT</translation>
    </message>
    <message>
        <source>&amp;Records</source>
        <translation>&amp;Записи</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>Найти</translation>
    </message>
    <message>
        <source>Find next</source>
        <translation>Найти далее</translation>
    </message>
    <message>
        <source>Goto Record</source>
        <translation>Перейти к записи</translation>
    </message>
    <message>
        <source>Edit / Post</source>
        <translation>Правка / Сохранить</translation>
    </message>
    <message>
        <source>Delete / Recall</source>
        <translation>Удалить / Восстановить</translation>
    </message>
    <message>
        <source>Copy record</source>
        <translation>Копировать запись</translation>
    </message>
    <message>
        <source>Dos</source>
        <translation>DOS</translation>
    </message>
    <message>
        <source>Switch page</source>
        <translation>Сменить страницу</translation>
    </message>
    <message>
        <source>About ...</source>
        <translation>О программе...</translation>
    </message>
    <message>
        <source>Code page of the table's text</source>
        <translation>Кодовая страница текста таблицы</translation>
    </message>
    <message>
        <source>Visual FoxPro 3.0</source>
        <translation>Visual FoxPro 3.0</translation>
    </message>
    <message>
        <source>Visual FoxPro 3.0 risk operations</source>
        <translation>Visual FoxPro 3.0: операции с риском</translation>
    </message>
    <message>
        <source>The index file %1 cannot be read: %2</source>
        <translation>Индексный файл %1 не читается: %2</translation>
    </message>
    <message>
        <source>The table is used without it; the file will not be kept current until it is rebuilt (Reindex).</source>
        <translation>Таблица открыта без него; файл не будет обновляться, пока его не перестроят (Переиндексировать).</translation>
    </message>
    <message>
        <source>The table is used without them; these files will not be kept current until they are rebuilt (Reindex).</source>
        <translation>Таблица открыта без них; эти файлы не будут обновляться, пока их не перестроят (Переиндексировать).</translation>
    </message>
    <message>
        <source>These index files could not be rebuilt:</source>
        <translation>Эти индексные файлы не удалось перестроить:</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>"%1" not found</source>
        <translation>«%1» не найдено</translation>
    </message>
    <message>
        <source>Number record:</source>
        <translation>Номер записи:</translation>
    </message>
    <message>
        <source>'%1' is not a valid integer value</source>
        <translation>«%1» — недопустимое целое число</translation>
    </message>
    <message>
        <source>Records: </source>
        <translation>Записи: </translation>
    </message>
    <message>
        <source>Cancel the work in progress and close?</source>
        <translation>Прервать выполняемую работу и закрыть?</translation>
    </message>
    <message>
        <source>Discard the changes to record %1?</source>
        <translation>Отменить изменения записи %1?</translation>
    </message>
    <message>
        <source>Discard the changes to the field list?</source>
        <translation>Отменить изменения списка полей?</translation>
    </message>
    <message>
        <source>Discard the new table's field list?</source>
        <translation>Отменить список полей новой таблицы?</translation>
    </message>
    <message numerus="yes">
        <source>The import was cancelled; %n record(s) were appended.</source>
        <translation>
            <numerusform>Импорт отменён; добавлена %n запись.</numerusform>
            <numerusform>Импорт отменён; добавлены %n записи.</numerusform>
            <numerusform>Импорт отменён; добавлено %n записей.</numerusform>
        </translation>
    </message>
    <message>
        <source>Check table</source>
        <translation>Проверить таблицу</translation>
    </message>
    <message>
        <source>Repair table</source>
        <translation>Исправление таблицы</translation>
    </message>
    <message>
        <source>Repair %1?
The table is closed while it is mended; the original files are kept in a folder beside it.</source>
        <translation>Исправить %1?
На время исправления таблица закрывается; исходные файлы сохраняются в папке рядом с ней.</translation>
    </message>
    <message>
        <source>The table was repaired.</source>
        <translation>Таблица исправлена.</translation>
    </message>
    <message>
        <source>Nothing needed mending.</source>
        <translation>Исправлять было нечего.</translation>
    </message>
    <message>
        <source>Changes:</source>
        <translation>Изменения:</translation>
    </message>
    <message>
        <source>Not mended:</source>
        <translation>Не исправлено:</translation>
    </message>
    <message>
        <source>The original files are kept in %1.</source>
        <translation>Исходные файлы сохранены в %1.</translation>
    </message>
    <message numerus="yes">
        <source>The check after the repair still finds %n problem(s).</source>
        <translation>
            <numerusform>Проверка после исправления всё ещё находит %n проблему.</numerusform>
            <numerusform>Проверка после исправления всё ещё находит %n проблемы.</numerusform>
            <numerusform>Проверка после исправления всё ещё находит %n проблем.</numerusform>
        </translation>
    </message>
    <message>
        <source>Export as</source>
        <translation>Экспорт в</translation>
    </message>
    <message>
        <source>The delimiter is one character other than a quote or a line end, or Tab.</source>
        <translation>Разделитель — один символ, кроме кавычки и конца строки, или Tab.</translation>
    </message>
    <message>
        <source>Unknown encoding %1</source>
        <translation>Неизвестная кодировка %1</translation>
    </message>
    <message>
        <source>%1 exists. Replace it?</source>
        <translation>%1 уже существует. Заменить?</translation>
    </message>
    <message>
        <source>No SQLite index for tag %1</source>
        <translation>Для тега %1 индекс SQLite не создан</translation>
    </message>
    <message>
        <source>Some values could not be read; they were written empty.</source>
        <translation>Некоторые значения не удалось прочитать; они записаны пустыми.</translation>
    </message>
    <message>
        <source>Import CSV</source>
        <translation>Импорт CSV</translation>
    </message>
    <message>
        <source>CSV files</source>
        <translation>Файлы CSV</translation>
    </message>
    <message>
        <source>Table</source>
        <translation>Таблица</translation>
    </message>
    <message>
        <source>Values</source>
        <translation>Значения</translation>
    </message>
    <message>
        <source>Memo</source>
        <translation>Мемо</translation>
    </message>
    <message>
        <source>Index</source>
        <translation>Индекс</translation>
    </message>
    <message>
        <source>Findings</source>
        <translation>Найденные проблемы</translation>
    </message>
    <message>
        <source>Severity</source>
        <translation>Важность</translation>
    </message>
    <message>
        <source>Part</source>
        <translation>Часть</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>Detail</source>
        <translation>Подробности</translation>
    </message>
    <message>
        <source>Tag</source>
        <translation>Тег</translation>
    </message>
    <message>
        <source>Repair...</source>
        <translation>Исправить...</translation>
    </message>
    <message numerus="yes">
        <source>%n record(s) checked</source>
        <translation>
            <numerusform>проверена %n запись</numerusform>
            <numerusform>проверены %n записи</numerusform>
            <numerusform>проверено %n записей</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n error(s)</source>
        <translation>
            <numerusform>%n ошибка</numerusform>
            <numerusform>%n ошибки</numerusform>
            <numerusform>%n ошибок</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n warning(s)</source>
        <translation>
            <numerusform>%n предупреждение</numerusform>
            <numerusform>%n предупреждения</numerusform>
            <numerusform>%n предупреждений</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n memo block(s) that no record uses (not damage)</source>
        <translation>
            <numerusform>%n блок мемо, не используемый ни одной записью (это не повреждение)</numerusform>
            <numerusform>%n блока мемо, не используемых ни одной записью (это не повреждение)</numerusform>
            <numerusform>%n блоков мемо, не используемых ни одной записью (это не повреждение)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n index tag(s) whose keys this program cannot compute, not compared</source>
        <translation>
            <numerusform>%n тег индекса, ключи которого эта программа не умеет вычислять, не сверен</numerusform>
            <numerusform>%n тега индекса, ключи которых эта программа не умеет вычислять, не сверены</numerusform>
            <numerusform>%n тегов индекса, ключи которых эта программа не умеет вычислять, не сверены</numerusform>
        </translation>
    </message>
    <message>
        <source>No problems found.</source>
        <translation>Проблем не найдено.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>Export as...</source>
        <translation>Экспорт в...</translation>
    </message>
    <message>
        <source>Import CSV...</source>
        <translation>Импорт CSV...</translation>
    </message>
    <message>
        <source>Record %1 is not in the table as it is open now</source>
        <translation>Записи %1 нет в таблице в её нынешнем виде</translation>
    </message>
</context>
<context>
    <name>fendral::TProgressDialog</name>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Reading the table</source>
        <translation>Чтение таблицы</translation>
    </message>
    <message>
        <source>Writing the index</source>
        <translation>Запись индекса</translation>
    </message>
    <message>
        <source>Copying records</source>
        <translation>Копирование записей</translation>
    </message>
    <message>
        <source>Packing</source>
        <translation>Упаковка</translation>
    </message>
    <message>
        <source>Searching</source>
        <translation>Поиск</translation>
    </message>
    <message>
        <source>Exporting</source>
        <translation>Экспорт</translation>
    </message>
    <message>
        <source>Importing</source>
        <translation>Импорт</translation>
    </message>
    <message>
        <source>Rebuilding the table</source>
        <translation>Перестройка таблицы</translation>
    </message>
    <message>
        <source>Cancelling...</source>
        <translation>Отмена...</translation>
    </message>
    <message>
        <source>Checking the table</source>
        <translation>Проверка таблицы</translation>
    </message>
    <message>
        <source>Repairing the table</source>
        <translation>Исправление таблицы</translation>
    </message>
</context>
<context>
    <name>fendral::TStructurePage</name>
    <message>
        <source>N Number</source>
        <translation>N Число</translation>
    </message>
    <message>
        <source>C Character</source>
        <translation>C Символьный</translation>
    </message>
    <message>
        <source>D Date</source>
        <translation>D Дата</translation>
    </message>
    <message>
        <source>L Boolean</source>
        <translation>L Логический</translation>
    </message>
    <message>
        <source>M Memo</source>
        <translation>M Мемо</translation>
    </message>
    <message>
        <source>B Binary</source>
        <translation>B Двоичный</translation>
    </message>
    <message>
        <source>Fields</source>
        <translation>Поля</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>Вверх</translation>
    </message>
    <message>
        <source>Move field up</source>
        <translation>Переместить поле вверх</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>Вниз</translation>
    </message>
    <message>
        <source>Move field down</source>
        <translation>Переместить поле вниз</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Добавить</translation>
    </message>
    <message>
        <source>Add field</source>
        <translation>Добавить поле</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Delete field</source>
        <translation>Удалить поле</translation>
    </message>
    <message>
        <source>DBF Type</source>
        <translation>Тип DBF</translation>
    </message>
    <message>
        <source>Clipper</source>
        <translation>Clipper</translation>
    </message>
    <message>
        <source>DBase III</source>
        <translation>DBase III</translation>
    </message>
    <message>
        <source>DBase IV</source>
        <translation>DBase IV</translation>
    </message>
    <message>
        <source>FoxPro</source>
        <translation>FoxPro</translation>
    </message>
    <message>
        <source>FPT Block size</source>
        <translation>Размер блока FPT</translation>
    </message>
    <message>
        <source>Only FoxPro file</source>
        <translation>Только для файлов FoxPro</translation>
    </message>
    <message>
        <source>Create DBF</source>
        <translation>Создать DBF</translation>
    </message>
    <message>
        <source>All Index file</source>
        <translation>Все индексные файлы</translation>
    </message>
    <message>
        <source>Index files</source>
        <translation>Индексные файлы</translation>
    </message>
    <message>
        <source>New</source>
        <translation>Новый</translation>
    </message>
    <message>
        <source>New index file</source>
        <translation>Новый индексный файл</translation>
    </message>
    <message>
        <source>Del</source>
        <translation>Удал.</translation>
    </message>
    <message>
        <source>Delete index file</source>
        <translation>Удалить индексный файл</translation>
    </message>
    <message>
        <source>Index Tags</source>
        <translation>Индексные теги</translation>
    </message>
    <message>
        <source>New tag</source>
        <translation>Новый тег</translation>
    </message>
    <message>
        <source>Delete tag</source>
        <translation>Удалить тег</translation>
    </message>
    <message>
        <source>Tag</source>
        <translation>Тег</translation>
    </message>
    <message>
        <source>Index File</source>
        <translation>Индексный файл</translation>
    </message>
    <message>
        <source>Index Tag</source>
        <translation>Индексный тег</translation>
    </message>
    <message>
        <source>Expression</source>
        <translation>Выражение</translation>
    </message>
    <message>
        <source>Expression index. Possible functions: AllTrim, Asc, At, Ceiling, Chr, CTOD, Date, Descend, DTOC, DTOS, Empty, Floor, IIF, Int, Left, Len, Lower, LTrim, PadC, PadL, PadR, Right, RTrim, Soudex, Space, Str, StrZero, SubStr, Trim, Upper, Val.</source>
        <translation>Выражение индекса. Доступные функции: AllTrim, Asc, At, Ceiling, Chr, CTOD, Date, Descend, DTOC, DTOS, Empty, Floor, IIF, Int, Left, Len, Lower, LTrim, PadC, PadL, PadR, Right, RTrim, Soudex, Space, Str, StrZero, SubStr, Trim, Upper, Val.</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Фильтр</translation>
    </message>
    <message>
        <source>Unique</source>
        <translation>Уникальный</translation>
    </message>
    <message>
        <source>Ascending</source>
        <translation>По возрастанию</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Сохранить</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Reindex</source>
        <translation>Переиндексировать</translation>
    </message>
    <message>
        <source>%1 (damaged)</source>
        <translation>%1 (повреждён)</translation>
    </message>
    <message>
        <source>The tag %1 could not be deleted from %2.</source>
        <translation>Не удалось удалить тег %1 из %2.</translation>
    </message>
</context>
<context>
    <name>fendral::TTolvernNavigator</name>
    <message>
        <source>First record</source>
        <translation>Первая запись</translation>
    </message>
    <message>
        <source>Prior record</source>
        <translation>Предыдущая запись</translation>
    </message>
    <message>
        <source>Next record</source>
        <translation>Следующая запись</translation>
    </message>
    <message>
        <source>Last record</source>
        <translation>Последняя запись</translation>
    </message>
    <message>
        <source>Append record</source>
        <translation>Добавить запись</translation>
    </message>
    <message>
        <source> Copy record</source>
        <translation> Копировать запись</translation>
    </message>
    <message>
        <source>Edit record</source>
        <translation>Править запись</translation>
    </message>
    <message>
        <source>Delete record</source>
        <translation>Удалить запись</translation>
    </message>
    <message>
        <source>Save record</source>
        <translation>Сохранить запись</translation>
    </message>
    <message>
        <source>Cancel edit</source>
        <translation>Отменить правку</translation>
    </message>
    <message>
        <source>Find record</source>
        <translation>Найти запись</translation>
    </message>
    <message>
        <source>Refresh data</source>
        <translation>Обновить данные</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Подтверждение</translation>
    </message>
    <message>
        <source>Delete record?</source>
        <translation>Удалить запись?</translation>
    </message>
</context>
</TS>