<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="de">
<context>
    <name>Dataset</name>
    <message>
        <source>True;False</source>
        <translation>Ja;Nein</translation>
    </message>
    <message>
        <source>Cannot perform this operation on a closed dataset</source>
        <translation>Dieser Vorgang ist bei einer geschlossenen Datenmenge nicht möglich</translation>
    </message>
    <message>
        <source>Cannot perform this operation on an open dataset</source>
        <translation>Dieser Vorgang ist bei einer geöffneten Datenmenge nicht möglich</translation>
    </message>
    <message>
        <source>Field '%1' not found</source>
        <translation>Feld „%1“ nicht gefunden</translation>
    </message>
    <message>
        <source>No field to add</source>
        <translation>Kein Feld zum Hinzufügen</translation>
    </message>
    <message>
        <source>Duplicate field name '%1'</source>
        <translation>Doppelter Feldname „%1“</translation>
    </message>
    <message>
        <source>Record buffer %1 out of range</source>
        <translation>Datensatzpuffer %1 außerhalb des gültigen Bereichs</translation>
    </message>
    <message>
        <source>Dataset not in edit or insert mode</source>
        <translation>Die Datenmenge ist nicht im Bearbeitungs- oder Einfügemodus</translation>
    </message>
    <message>
        <source>Field '%1' cannot be modified</source>
        <translation>Feld „%1“ kann nicht geändert werden</translation>
    </message>
    <message>
        <source>Field '%1' is not indexed and cannot be modified</source>
        <translation>Feld „%1“ ist nicht indiziert und kann nicht geändert werden</translation>
    </message>
    <message>
        <source>Record not found</source>
        <translation>Datensatz nicht gefunden</translation>
    </message>
    <message>
        <source>Cannot modify a read-only dataset</source>
        <translation>Eine schreibgeschützte Datenmenge kann nicht geändert werden</translation>
    </message>
    <message>
        <source>Field '%1' must have a value</source>
        <translation>Feld „%1“ muss einen Wert haben</translation>
    </message>
    <message>
        <source>Cannot perform this operation on an empty dataset</source>
        <translation>Dieser Vorgang ist bei einer leeren Datenmenge nicht möglich</translation>
    </message>
    <message>
        <source>No key fields to search</source>
        <translation>Keine Schlüsselfelder für die Suche</translation>
    </message>
    <message>
        <source>The search has %1 key fields but %2 values</source>
        <translation>Die Suche hat %1 Schlüsselfelder, aber %2 Werte</translation>
    </message>
    <message>
        <source>Row %1 is not buffered</source>
        <translation>Zeile %1 ist nicht gepuffert</translation>
    </message>
    <message>
        <source>Invalid field definition '%1'</source>
        <translation>Ungültige Felddefinition „%1“</translation>
    </message>
    <message>
        <source>string</source>
        <translation>Zeichenkette</translation>
    </message>
    <message>
        <source>small integer</source>
        <translation>kleine Ganzzahl</translation>
    </message>
    <message>
        <source>integer</source>
        <translation>Ganzzahl</translation>
    </message>
    <message>
        <source>word</source>
        <translation>vorzeichenlose Ganzzahl</translation>
    </message>
    <message>
        <source>boolean</source>
        <translation>Wahrheitswert</translation>
    </message>
    <message>
        <source>floating point</source>
        <translation>Gleitkommazahl</translation>
    </message>
    <message>
        <source>date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>date and time</source>
        <translation>Datum und Uhrzeit</translation>
    </message>
    <message>
        <source>binary</source>
        <translation>Binärwert</translation>
    </message>
    <message>
        <source>memo</source>
        <translation>Memo</translation>
    </message>
    <message>
        <source>Field type not supported for field '%1'</source>
        <translation>Feldtyp des Felds „%1“ wird nicht unterstützt</translation>
    </message>
    <message>
        <source>Field '%1' has no dataset</source>
        <translation>Feld „%1“ gehört zu keiner Datenmenge</translation>
    </message>
    <message>
        <source>'%1' is not a valid %2 value for field '%3'</source>
        <translation>„%1“ ist kein gültiger Wert (%2) für Feld „%3“</translation>
    </message>
    <message>
        <source>'%1' is too long for field '%2' (at most %3 characters)</source>
        <translation>„%1“ ist zu lang für Feld „%2“ (höchstens %3 Zeichen)</translation>
    </message>
    <message>
        <source>%1 is not a valid value for field '%2'. The allowed range is %3 to %4</source>
        <translation>%1 ist kein gültiger Wert für Feld „%2“. Erlaubt ist der Bereich %3 bis %4</translation>
    </message>
    <message>
        <source>Invalid display values '%1' for field '%2'</source>
        <translation>Ungültige Anzeigewerte „%1“ für Feld „%2“</translation>
    </message>
    <message>
        <source>'%1' is not a valid date for field '%2'</source>
        <translation>„%1“ ist kein gültiges Datum für Feld „%2“</translation>
    </message>
    <message>
        <source>'%1' is not a valid date and time for field '%2'</source>
        <translation>„%1“ ist keine gültige Datums- und Zeitangabe für Feld „%2“</translation>
    </message>
    <message>
        <source>Cannot write field '%1'</source>
        <translation>Feld „%1“ kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>The in-memory table has no field definitions</source>
        <translation>Die Tabelle im Arbeitsspeicher hat keine Felddefinitionen</translation>
    </message>
    <message>
        <source>Record %1 not found</source>
        <translation>Datensatz %1 nicht gefunden</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>xBase tables</source>
        <translation>xBase-Tabellen</translation>
    </message>
    <message>
        <source>Last DBF update: Date: </source>
        <translation>Letzte DBF-Änderung: Datum: </translation>
    </message>
    <message>
        <source>, Time: </source>
        <translation>, Uhrzeit: </translation>
    </message>
    <message>
        <source>, User: </source>
        <translation>, Benutzer: </translation>
    </message>
    <message>
        <source>The value of %1 holds every quote character</source>
        <translation>Der Wert von %1 enthält alle Arten von Anführungszeichen</translation>
    </message>
    <message>
        <source>A filter cannot compare the field %1 with a value</source>
        <translation>Ein Filter kann das Feld %1 nicht mit einem Wert vergleichen</translation>
    </message>
    <message>
        <source>Locks: Clipper</source>
        <translation>Sperren: Clipper</translation>
    </message>
    <message>
        <source>Locks: FoxPro</source>
        <translation>Sperren: FoxPro</translation>
    </message>
    <message>
        <source>Locks: dBase IV</source>
        <translation>Sperren: dBase IV</translation>
    </message>
    <message>
        <source>Locks: Default</source>
        <translation>Sperren: Standard</translation>
    </message>
    <message>
        <source>'%1' is not a date and time</source>
        <translation>„%1“ ist keine Datums- und Zeitangabe</translation>
    </message>
    <message>
        <source>'%1' is longer than the field's %2 characters</source>
        <translation>„%1“ ist länger als die %2 Zeichen des Felds</translation>
    </message>
    <message>
        <source>'%1' is not a number the field can hold</source>
        <translation>„%1“ ist keine Zahl, die das Feld aufnehmen kann</translation>
    </message>
    <message>
        <source>'%1' is not a date</source>
        <translation>„%1“ ist kein Datum</translation>
    </message>
    <message>
        <source>'%1' is not a logical value</source>
        <translation>„%1“ ist kein logischer Wert</translation>
    </message>
    <message>
        <source>'%1' is longer than the field's %2 bytes</source>
        <translation>„%1“ ist länger als die %2 Bytes des Felds</translation>
    </message>
</context>
<context>
    <name>TFindCommand</name>
    <message>
        <source>Find</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Find next</source>
        <translation>Weitersuchen</translation>
    </message>
    <message>
        <source>Text to find:</source>
        <translation>Suchtext:</translation>
    </message>
</context>
<context>
    <name>TMainWindow</name>
    <message>
        <source>Export base in TXT</source>
        <translation>Tabelle als TXT exportieren</translation>
    </message>
</context>
<context>
    <name>Tolvern</name>
    <message>
        <source>Table is busy building an index</source>
        <translation>Die Tabelle ist beschäftigt: Ein Index wird erstellt</translation>
    </message>
    <message>
        <source>Table is busy copying</source>
        <translation>Die Tabelle ist beschäftigt: Es wird kopiert</translation>
    </message>
    <message>
        <source>Table name missing</source>
        <translation>Tabellenname fehlt</translation>
    </message>
    <message>
        <source>Cannot find file %1</source>
        <translation>Datei %1 nicht gefunden</translation>
    </message>
    <message>
        <source>Record request beyond range of table</source>
        <translation>Angeforderter Datensatz liegt außerhalb der Tabelle</translation>
    </message>
    <message>
        <source>Bookmark is invalid for table </source>
        <translation>Ungültiges Lesezeichen für die Tabelle </translation>
    </message>
    <message>
        <source>Field '%1' cannot be modified</source>
        <translation>Feld „%1“ kann nicht geändert werden</translation>
    </message>
    <message>
        <source>Field '%1' is not indexed and cannot be modified</source>
        <translation>Feld „%1“ ist nicht indiziert und kann nicht geändert werden</translation>
    </message>
    <message>
        <source>Cannot perform this operation on an empty dataset</source>
        <translation>Dieser Vorgang ist bei einer leeren Datenmenge nicht möglich</translation>
    </message>
    <message>
        <source>Cannot modify a read-only dataset</source>
        <translation>Eine schreibgeschützte Datenmenge kann nicht geändert werden</translation>
    </message>
    <message>
        <source>Dataset not in edit or insert mode</source>
        <translation>Die Datenmenge ist nicht im Bearbeitungs- oder Einfügemodus</translation>
    </message>
    <message>
        <source>Cannot delete the record</source>
        <translation>Der Datensatz kann nicht gelöscht werden</translation>
    </message>
    <message>
        <source>Cannot recall the record</source>
        <translation>Der Datensatz kann nicht wiederhergestellt werden</translation>
    </message>
    <message>
        <source>Error getting %1: %2</source>
        <translation>Fehler beim Öffnen von %1: %2</translation>
    </message>
    <message>
        <source>Index file %1 already open</source>
        <translation>Indexdatei %1 ist bereits geöffnet</translation>
    </message>
    <message>
        <source>Error getting %1</source>
        <translation>Fehler beim Öffnen von %1</translation>
    </message>
    <message>
        <source>Circular datalinks are not allowed</source>
        <translation>Zirkuläre Datenverknüpfungen sind nicht erlaubt</translation>
    </message>
    <message>
        <source>Cannot rename the table to %1</source>
        <translation>Die Tabelle kann nicht in %1 umbenannt werden</translation>
    </message>
    <message>
        <source>Field '%1' has no table</source>
        <translation>Feld „%1“ gehört zu keiner Tabelle</translation>
    </message>
    <message>
        <source>A table is not assigned to this object</source>
        <translation>Diesem Objekt ist keine Tabelle zugeordnet</translation>
    </message>
    <message>
        <source>Cannot perform this operation on an open table</source>
        <translation>Dieser Vorgang ist bei einer geöffneten Tabelle nicht möglich</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Table exists.  Do you want to overwrite?</source>
        <translation>Die Tabelle existiert bereits.  Überschreiben?</translation>
    </message>
    <message>
        <source>Field list is invalid</source>
        <translation>Die Feldliste ist ungültig</translation>
    </message>
    <message>
        <source>Field '%1': the character '%2' does not exist in code page %3</source>
        <translation>Feld „%1“: Das Zeichen „%2“ gibt es in Codepage %3 nicht</translation>
    </message>
    <message>
        <source>Field '%1' cannot hold %2</source>
        <translation>Feld „%1“ kann %2 nicht aufnehmen</translation>
    </message>
    <message>
        <source>this value</source>
        <translation>diesen Wert</translation>
    </message>
    <message>
        <source>this value (%1)</source>
        <translation>diesen Wert (%1)</translation>
    </message>
    <message>
        <source>Field '%1' holds at most %2 characters</source>
        <translation>Feld „%1“ fasst höchstens %2 Zeichen</translation>
    </message>
    <message>
        <source>the date "%1"</source>
        <translation>das Datum „%1“</translation>
    </message>
    <message>
        <source>Record is locked by another user</source>
        <translation>Der Datensatz ist von einem anderen Benutzer gesperrt</translation>
    </message>
    <message>
        <source>The memo of field '%1' could not be written</source>
        <translation>Das Memo des Felds „%1“ konnte nicht geschrieben werden</translation>
    </message>
    <message>
        <source>These index files could not be opened again and are no longer kept current: %1</source>
        <translation>Diese Indexdateien konnten nicht wieder geöffnet werden und werden nicht mehr aktuell gehalten: %1</translation>
    </message>
</context>
<context>
    <name>fendral::TAboutBox</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>&lt;b&gt;Fendral&lt;/b&gt;&lt;br&gt;Browsing, editing and maintaining xBase tables&lt;br&gt;Table engine: Tolvern</source>
        <translation>&lt;b&gt;Fendral&lt;/b&gt;&lt;br&gt;Anzeigen, Bearbeiten und Pflegen von xBase-Tabellen&lt;br&gt;Tabellen-Engine: Tolvern</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Licence: not chosen yet</source>
        <translation>Lizenz: noch nicht gewählt</translation>
    </message>
    <message>
        <source>Licence: %1</source>
        <translation>Lizenz: %1</translation>
    </message>
    <message>
        <source>Settings are kept in %1</source>
        <translation>Die Einstellungen werden in %1 gespeichert</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>fendral::TBrowseGrid</name>
    <message>
        <source>Records</source>
        <translation>Datensätze</translation>
    </message>
    <message>
        <source>%1 (the order of the grid)</source>
        <translation>%1 (Reihenfolge der Tabelle)</translation>
    </message>
</context>
<context>
    <name>fendral::TBrowsePage</name>
    <message>
        <source>All memo</source>
        <translation>Alle Memos</translation>
    </message>
    <message>
        <source>Visible all memo</source>
        <translation>Alle Memos anzeigen</translation>
    </message>
    <message>
        <source>Deleted records</source>
        <translation>Gelöschte Datensätze</translation>
    </message>
    <message>
        <source>Visible Deleted Records</source>
        <translation>Gelöschte Datensätze anzeigen</translation>
    </message>
    <message>
        <source>Dos</source>
        <translation>DOS</translation>
    </message>
    <message>
        <source>Change code 866 &lt;-&gt; 1251</source>
        <translation>Codepage 866 &lt;-&gt; 1251 umschalten</translation>
    </message>
    <message>
        <source>Exact count</source>
        <translation>Genaue Zählung</translation>
    </message>
    <message>
        <source>Exact count ON or OFF</source>
        <translation>Genaue Zählung der Datensätze ein oder aus</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>Visible filter panel</source>
        <translation>Filterleiste anzeigen</translation>
    </message>
    <message>
        <source>Available Index Tag</source>
        <translation>Verfügbare Index-Tags</translation>
    </message>
    <message>
        <source>Filter expression</source>
        <translation>Filterausdruck</translation>
    </message>
    <message>
        <source>Filter ON or OFF</source>
        <translation>Filter ein oder aus</translation>
    </message>
    <message>
        <source>%1 (damaged)</source>
        <translation>%1 (beschädigt)</translation>
    </message>
    <message>
        <source>Fields: </source>
        <translation>Felder: </translation>
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
        <translation>JSON Lines + Schema</translation>
    </message>
    <message>
        <source>SQLite</source>
        <translation>SQLite</translation>
    </message>
    <message>
        <source>&amp;Format:</source>
        <translation>&amp;Format:</translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation>D&amp;urchsuchen...</translation>
    </message>
    <message>
        <source>F&amp;ile:</source>
        <translation>&amp;Datei:</translation>
    </message>
    <message>
        <source>&amp;Delimiter:</source>
        <translation>&amp;Trennzeichen:</translation>
    </message>
    <message>
        <source>&amp;Encoding:</source>
        <translation>&amp;Kodierung:</translation>
    </message>
    <message>
        <source>&amp;Header row</source>
        <translation>Kopf&amp;zeile</translation>
    </message>
    <message>
        <source>&amp;With deleted records</source>
        <translation>&amp;Gelöschte Datensätze einschließen</translation>
    </message>
    <message>
        <source>&amp;Current order and filter</source>
        <translation>Aktuelle &amp;Sortierung und Filter</translation>
    </message>
    <message>
        <source>&amp;All records</source>
        <translation>&amp;Alle Datensätze</translation>
    </message>
    <message>
        <source>Records:</source>
        <translation>Datensätze:</translation>
    </message>
</context>
<context>
    <name>fendral::TMainWindow</name>
    <message>
        <source>The table is already in the Windows (ANSI) code page %1; it was not converted.</source>
        <translation>Die Tabelle ist bereits in der Windows-Codepage (ANSI) %1; sie wurde nicht umgewandelt.</translation>
    </message>
    <message>
        <source>The table is already in the DOS (OEM) code page %1; it was not converted.</source>
        <translation>Die Tabelle ist bereits in der DOS-Codepage (OEM) %1; sie wurde nicht umgewandelt.</translation>
    </message>
    <message>
        <source>No Windows (ANSI) code page is known for the DOS code page %1; the table was not converted.</source>
        <translation>Zur DOS-Codepage %1 ist keine Windows-Codepage (ANSI) bekannt; die Tabelle wurde nicht umgewandelt.</translation>
    </message>
    <message>
        <source>Modify DBF</source>
        <translation>DBF ändern</translation>
    </message>
    <message>
        <source>Convert DOS -&gt; ANSII</source>
        <translation>Umwandeln DOS -&gt; ANSI</translation>
    </message>
    <message>
        <source>Convert ANSII -&gt; DOS</source>
        <translation>Umwandeln ANSI -&gt; DOS</translation>
    </message>
    <message>
        <source>Tables of version 0x30 (Visual FoxPro) cannot be rebuilt; the table was not changed.</source>
        <translation>Tabellen der Version 0x30 (Visual FoxPro) können nicht neu aufgebaut werden; die Tabelle wurde nicht geändert.</translation>
    </message>
    <message>
        <source>record %1, field %2
</source>
        <translation>Datensatz %1, Feld %2
</translation>
    </message>
    <message>
        <source>and more
</source>
        <translation>und weitere
</translation>
    </message>
    <message>
        <source>These values do not fit their new fields:
%1
Text is cut to the new width, other values are left blank. Modify the table?</source>
        <translation>Diese Werte passen nicht in ihre neuen Felder:
%1
Text wird auf die neue Breite gekürzt, andere Werte bleiben leer. Tabelle ändern?</translation>
    </message>
    <message>
        <source>These index tags no longer fit the table and were removed:
%1</source>
        <translation>Diese Index-Tags passen nicht mehr zur Tabelle und wurden entfernt:
%1</translation>
    </message>
    <message>
        <source>Add a field (Insert)</source>
        <translation>Feld hinzufügen (Einfg)</translation>
    </message>
    <message>
        <source>Delete the field (Ctrl+Delete)</source>
        <translation>Feld löschen (Strg+Entf)</translation>
    </message>
    <message>
        <source>New DBF</source>
        <translation>Neue DBF</translation>
    </message>
    <message>
        <source>Field %1: %2</source>
        <translation>Feld %1: %2</translation>
    </message>
    <message>
        <source>a field of type %1 keeps its type, width and decimals</source>
        <translation>ein Feld vom Typ %1 behält Typ, Breite und Nachkommastellen</translation>
    </message>
    <message>
        <source>a number is 1 to %1 characters wide</source>
        <translation>eine Zahl ist 1 bis %1 Zeichen breit</translation>
    </message>
    <message>
        <source>%1 is empty</source>
        <translation>%1 ist leer</translation>
    </message>
    <message>
        <source>a name starts with a letter and holds letters, digits and _</source>
        <translation>ein Name beginnt mit einem Buchstaben und enthält Buchstaben, Ziffern und _</translation>
    </message>
    <message>
        <source>the name %1 is there already</source>
        <translation>den Namen %1 gibt es bereits</translation>
    </message>
    <message>
        <source>unknown type "%1"</source>
        <translation>unbekannter Typ „%1“</translation>
    </message>
    <message>
        <source>a character field of this table type is 1 to %1 characters wide</source>
        <translation>ein Zeichenfeld dieses Tabellentyps ist 1 bis %1 Zeichen breit</translation>
    </message>
    <message>
        <source>a number of width %1 has 0 to %2 decimals</source>
        <translation>eine Zahl der Breite %1 hat 0 bis %2 Nachkommastellen</translation>
    </message>
    <message>
        <source>A %1 table cannot hold the field %2 of type %3. The table was not changed.</source>
        <translation>Eine %1-Tabelle kann das Feld %2 vom Typ %3 nicht aufnehmen. Die Tabelle wurde nicht geändert.</translation>
    </message>
    <message>
        <source>Convert the table from %1 to %2?

Version byte: 0x%3 -&gt; 0x%4
</source>
        <translation>Tabelle von %1 in %2 umwandeln?

Versionsbyte: 0x%3 -&gt; 0x%4
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
        <translation>keine</translation>
    </message>
    <message>
        <source>Memo file: %1 -&gt; %2 (%3; every memo is moved)
</source>
        <translation>Memodatei: %1 -&gt; %2 (%3; alle Memos werden übertragen)
</translation>
    </message>
    <message>
        <source>Memo file: %1 -&gt; none (no memo field is left)
</source>
        <translation>Memodatei: %1 -&gt; keine (kein Memofeld bleibt übrig)
</translation>
    </message>
    <message>
        <source>Index file: %1 -&gt; %2
</source>
        <translation>Indexdatei: %1 -&gt; %2
</translation>
    </message>
    <message>
        <source>
These tags cannot be held and are dropped:
</source>
        <translation>
Diese Tags können nicht übernommen werden und entfallen:
</translation>
    </message>
    <message>
        <source>FPT Block size must be a whole number from 1 to 65535</source>
        <translation>Die FPT-Blockgröße muss eine ganze Zahl von 1 bis 65535 sein</translation>
    </message>
    <message>
        <source>New index file</source>
        <translation>Neue Indexdatei</translation>
    </message>
    <message>
        <source>FoxPro 2.x Index (*.CDX *.cdx);;dBase IV Index (*.MDX *.mdx);;dBase III Index (*.NDX *.ndx);;Clipper Index (*.NTX *.ntx)</source>
        <translation>FoxPro-2.x-Index (*.CDX *.cdx);;dBase-IV-Index (*.MDX *.mdx);;dBase-III-Index (*.NDX *.ndx);;Clipper-Index (*.NTX *.ntx)</translation>
    </message>
    <message>
        <source>Cannot delete %1</source>
        <translation>%1 kann nicht gelöscht werden</translation>
    </message>
    <message>
        <source>Pack</source>
        <translation>Packen</translation>
    </message>
    <message numerus="yes">
        <source>Pack removes %n deleted record(s) for good. Continue?</source>
        <translation>
            <numerusform>Packen entfernt %n gelöschten Datensatz endgültig. Fortfahren?</numerusform>
            <numerusform>Packen entfernt %n gelöschte Datensätze endgültig. Fortfahren?</numerusform>
        </translation>
    </message>
    <message>
        <source>Zap</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>Zap removes every record of %1 for good. Continue?</source>
        <translation>Leeren entfernt alle Datensätze von %1 endgültig. Fortfahren?</translation>
    </message>
    <message>
        <source>New name Base</source>
        <translation>Neuer Tabellenname</translation>
    </message>
    <message>
        <source>File Name:</source>
        <translation>Dateiname:</translation>
    </message>
    <message>
        <source>File %1 already exists</source>
        <translation>Die Datei %1 existiert bereits</translation>
    </message>
    <message>
        <source>Delete Base</source>
        <translation>Tabelle löschen</translation>
    </message>
    <message>
        <source>Delete %1 with its memo and index files for good?</source>
        <translation>%1 mit seinen Memo- und Indexdateien endgültig löschen?</translation>
    </message>
    <message>
        <source>Copy structure to base</source>
        <translation>Struktur in Tabelle kopieren</translation>
    </message>
    <message>
        <source>Copy to new name DBF</source>
        <translation>In DBF mit neuem Namen kopieren</translation>
    </message>
    <message>
        <source>A table cannot be copied onto itself</source>
        <translation>Eine Tabelle kann nicht auf sich selbst kopiert werden</translation>
    </message>
    <message>
        <source>File %1 already exists. Replace it?</source>
        <translation>Die Datei %1 existiert bereits. Ersetzen?</translation>
    </message>
    <message>
        <source>What will be a Separator? </source>
        <translation>Welches Trennzeichen? </translation>
    </message>
    <message>
        <source>Separator: . , ; : Tab Sps</source>
        <translation>Trennzeichen: . , ; : Tab Sps</translation>
    </message>
    <message>
        <source>Separator</source>
        <translation>Trennzeichen</translation>
    </message>
    <message>
        <source>Export name TXT file</source>
        <translation>Name der TXT-Exportdatei</translation>
    </message>
    <message>
        <source>Cannot create %1: %2</source>
        <translation>%1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>Record %1, field %2 holds the separator or a line break: that line will not read back as it was.</source>
        <translation>Datensatz %1, Feld %2 enthält das Trennzeichen oder einen Zeilenumbruch: Diese Zeile wird nicht unverändert zurückgelesen.</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>Export base in TXT</source>
        <translation>Tabelle als TXT exportieren</translation>
    </message>
    <message>
        <source>Import base from TXT</source>
        <translation>Tabelle aus TXT importieren</translation>
    </message>
    <message>
        <source>Text files</source>
        <translation>Textdateien</translation>
    </message>
    <message>
        <source>All files</source>
        <translation>Alle Dateien</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>%1 kann nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>the memo file cannot take the text</source>
        <translation>die Memodatei kann den Text nicht aufnehmen</translation>
    </message>
    <message>
        <source>Line %1, field %2: </source>
        <translation>Zeile %1, Feld %2: </translation>
    </message>
    <message>
        <source>Line %1: </source>
        <translation>Zeile %1: </translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>File name:</source>
        <translation>Dateiname:</translation>
    </message>
    <message>
        <source>Fendral</source>
        <translation>Fendral</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Ansicht</translation>
    </message>
    <message>
        <source>Structure DBF</source>
        <translation>DBF-Struktur</translation>
    </message>
    <message>
        <source>Field</source>
        <translation>Feld</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>DBF Type</source>
        <translation>DBF-Typ</translation>
    </message>
    <message>
        <source>Len</source>
        <translation>Länge</translation>
    </message>
    <message>
        <source>Dec</source>
        <translation>Dez.</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>Open DBF</source>
        <translation>DBF öffnen</translation>
    </message>
    <message>
        <source>Close DBF</source>
        <translation>DBF schließen</translation>
    </message>
    <message>
        <source>Recent tables</source>
        <translation>Zuletzt geöffnete Tabellen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>&amp;Database</source>
        <translation>Daten&amp;bank</translation>
    </message>
    <message>
        <source>Reindex</source>
        <translation>Neu indizieren</translation>
    </message>
    <message>
        <source>Rename</source>
        <translation>Umbenennen</translation>
    </message>
    <message>
        <source>Copy structure to TXT</source>
        <translation>Struktur als TXT kopieren</translation>
    </message>
    <message>
        <source>&amp;Records</source>
        <translation>Daten&amp;sätze</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Find next</source>
        <translation>Weitersuchen</translation>
    </message>
    <message>
        <source>Goto Record</source>
        <translation>Gehe zu Datensatz</translation>
    </message>
    <message>
        <source>Edit / Post</source>
        <translation>Bearbeiten / Speichern</translation>
    </message>
    <message>
        <source>Delete / Recall</source>
        <translation>Löschen / Wiederherstellen</translation>
    </message>
    <message>
        <source>Copy record</source>
        <translation>Datensatz kopieren</translation>
    </message>
    <message>
        <source>Dos</source>
        <translation>DOS</translation>
    </message>
    <message>
        <source>Switch page</source>
        <translation>Seite wechseln</translation>
    </message>
    <message>
        <source>About ...</source>
        <translation>Über ...</translation>
    </message>
    <message>
        <source>Code page of the table's text</source>
        <translation>Codepage des Tabellentexts</translation>
    </message>
    <message>
        <source>Visual FoxPro 3.0</source>
        <translation>Visual FoxPro 3.0</translation>
    </message>
    <message>
        <source>Visual FoxPro 3.0 risk operations</source>
        <translation>Visual FoxPro 3.0: riskante Vorgänge</translation>
    </message>
    <message>
        <source>The index file %1 cannot be read: %2</source>
        <translation>Die Indexdatei %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>The table is used without it; the file will not be kept current until it is rebuilt (Reindex).</source>
        <translation>Die Tabelle wird ohne sie verwendet; die Datei wird erst wieder aktuell gehalten, wenn sie neu aufgebaut wird (Neu indizieren).</translation>
    </message>
    <message>
        <source>The table is used without them; these files will not be kept current until they are rebuilt (Reindex).</source>
        <translation>Die Tabelle wird ohne sie verwendet; diese Dateien werden erst wieder aktuell gehalten, wenn sie neu aufgebaut werden (Neu indizieren).</translation>
    </message>
    <message>
        <source>These index files could not be rebuilt:</source>
        <translation>Diese Indexdateien konnten nicht neu aufgebaut werden:</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>"%1" not found</source>
        <translation>„%1“ nicht gefunden</translation>
    </message>
    <message>
        <source>Number record:</source>
        <translation>Datensatznummer:</translation>
    </message>
    <message>
        <source>'%1' is not a valid integer value</source>
        <translation>„%1“ ist keine gültige Ganzzahl</translation>
    </message>
    <message>
        <source>Records: </source>
        <translation>Datensätze: </translation>
    </message>
    <message>
        <source>Cancel the work in progress and close?</source>
        <translation>Laufenden Vorgang abbrechen und schließen?</translation>
    </message>
    <message>
        <source>Discard the changes to record %1?</source>
        <translation>Änderungen an Datensatz %1 verwerfen?</translation>
    </message>
    <message>
        <source>Discard the changes to the field list?</source>
        <translation>Änderungen an der Feldliste verwerfen?</translation>
    </message>
    <message>
        <source>Discard the new table's field list?</source>
        <translation>Feldliste der neuen Tabelle verwerfen?</translation>
    </message>
    <message numerus="yes">
        <source>The import was cancelled; %n record(s) were appended.</source>
        <translation>
            <numerusform>Der Import wurde abgebrochen; %n Datensatz wurde angefügt.</numerusform>
            <numerusform>Der Import wurde abgebrochen; %n Datensätze wurden angefügt.</numerusform>
        </translation>
    </message>
    <message>
        <source>Check table</source>
        <translation>Tabelle prüfen</translation>
    </message>
    <message>
        <source>Repair table</source>
        <translation>Tabelle reparieren</translation>
    </message>
    <message>
        <source>Repair %1?
The table is closed while it is mended; the original files are kept in a folder beside it.</source>
        <translation>%1 reparieren?
Die Tabelle wird während der Reparatur geschlossen; die ursprünglichen Dateien werden in einem Ordner daneben aufbewahrt.</translation>
    </message>
    <message>
        <source>The table was repaired.</source>
        <translation>Die Tabelle wurde repariert.</translation>
    </message>
    <message>
        <source>Nothing needed mending.</source>
        <translation>Es gab nichts zu reparieren.</translation>
    </message>
    <message>
        <source>Changes:</source>
        <translation>Änderungen:</translation>
    </message>
    <message>
        <source>Not mended:</source>
        <translation>Nicht repariert:</translation>
    </message>
    <message>
        <source>The original files are kept in %1.</source>
        <translation>Die ursprünglichen Dateien liegen in %1.</translation>
    </message>
    <message numerus="yes">
        <source>The check after the repair still finds %n problem(s).</source>
        <translation>
            <numerusform>Die Prüfung nach der Reparatur findet noch %n Problem.</numerusform>
            <numerusform>Die Prüfung nach der Reparatur findet noch %n Probleme.</numerusform>
        </translation>
    </message>
    <message>
        <source>Export as</source>
        <translation>Exportieren als</translation>
    </message>
    <message>
        <source>The delimiter is one character other than a quote or a line end, or Tab.</source>
        <translation>Das Trennzeichen ist ein Zeichen außer Anführungszeichen und Zeilenende, oder Tab.</translation>
    </message>
    <message>
        <source>Unknown encoding %1</source>
        <translation>Unbekannte Kodierung %1</translation>
    </message>
    <message>
        <source>%1 exists. Replace it?</source>
        <translation>%1 existiert bereits. Ersetzen?</translation>
    </message>
    <message>
        <source>No SQLite index for tag %1</source>
        <translation>Kein SQLite-Index für Tag %1</translation>
    </message>
    <message>
        <source>Some values could not be read; they were written empty.</source>
        <translation>Einige Werte konnten nicht gelesen werden; sie wurden leer geschrieben.</translation>
    </message>
    <message>
        <source>Import CSV</source>
        <translation>CSV importieren</translation>
    </message>
    <message>
        <source>CSV files</source>
        <translation>CSV-Dateien</translation>
    </message>
    <message>
        <source>Table</source>
        <translation>Tabelle</translation>
    </message>
    <message>
        <source>Values</source>
        <translation>Werte</translation>
    </message>
    <message>
        <source>Memo</source>
        <translation>Memo</translation>
    </message>
    <message>
        <source>Index</source>
        <translation>Index</translation>
    </message>
    <message>
        <source>Findings</source>
        <translation>Befunde</translation>
    </message>
    <message>
        <source>Severity</source>
        <translation>Schweregrad</translation>
    </message>
    <message>
        <source>Part</source>
        <translation>Teil</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Datensatz</translation>
    </message>
    <message>
        <source>Detail</source>
        <translation>Einzelheiten</translation>
    </message>
    <message>
        <source>Tag</source>
        <translation>Tag</translation>
    </message>
    <message>
        <source>Repair...</source>
        <translation>Reparieren...</translation>
    </message>
    <message numerus="yes">
        <source>%n record(s) checked</source>
        <translation>
            <numerusform>%n Datensatz geprüft</numerusform>
            <numerusform>%n Datensätze geprüft</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n error(s)</source>
        <translation>
            <numerusform>%n Fehler</numerusform>
            <numerusform>%n Fehler</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n warning(s)</source>
        <translation>
            <numerusform>%n Warnung</numerusform>
            <numerusform>%n Warnungen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n memo block(s) that no record uses (not damage)</source>
        <translation>
            <numerusform>%n Memoblock, den kein Datensatz nutzt (kein Schaden)</numerusform>
            <numerusform>%n Memoblöcke, die kein Datensatz nutzt (kein Schaden)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n index tag(s) whose keys this program cannot compute, not compared</source>
        <translation>
            <numerusform>%n Index-Tag, dessen Schlüssel dieses Programm nicht berechnen kann, nicht verglichen</numerusform>
            <numerusform>%n Index-Tags, deren Schlüssel dieses Programm nicht berechnen kann, nicht verglichen</numerusform>
        </translation>
    </message>
    <message>
        <source>No problems found.</source>
        <translation>Keine Probleme gefunden.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Export as...</source>
        <translation>Exportieren als...</translation>
    </message>
    <message>
        <source>Import CSV...</source>
        <translation>CSV importieren...</translation>
    </message>
    <message>
        <source>Record %1 is not in the table as it is open now</source>
        <translation>Datensatz %1 ist in der Tabelle, wie sie jetzt geöffnet ist, nicht vorhanden</translation>
    </message>
</context>
<context>
    <name>fendral::TProgressDialog</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Reading the table</source>
        <translation>Tabelle wird gelesen</translation>
    </message>
    <message>
        <source>Writing the index</source>
        <translation>Index wird geschrieben</translation>
    </message>
    <message>
        <source>Copying records</source>
        <translation>Datensätze werden kopiert</translation>
    </message>
    <message>
        <source>Packing</source>
        <translation>Packen</translation>
    </message>
    <message>
        <source>Searching</source>
        <translation>Suche läuft</translation>
    </message>
    <message>
        <source>Exporting</source>
        <translation>Export läuft</translation>
    </message>
    <message>
        <source>Importing</source>
        <translation>Import läuft</translation>
    </message>
    <message>
        <source>Rebuilding the table</source>
        <translation>Tabelle wird neu aufgebaut</translation>
    </message>
    <message>
        <source>Cancelling...</source>
        <translation>Wird abgebrochen...</translation>
    </message>
    <message>
        <source>Checking the table</source>
        <translation>Tabelle wird geprüft</translation>
    </message>
    <message>
        <source>Repairing the table</source>
        <translation>Tabelle wird repariert</translation>
    </message>
</context>
<context>
    <name>fendral::TStructurePage</name>
    <message>
        <source>N Number</source>
        <translation>N Zahl</translation>
    </message>
    <message>
        <source>C Character</source>
        <translation>C Zeichen</translation>
    </message>
    <message>
        <source>D Date</source>
        <translation>D Datum</translation>
    </message>
    <message>
        <source>L Boolean</source>
        <translation>L Logisch</translation>
    </message>
    <message>
        <source>M Memo</source>
        <translation>M Memo</translation>
    </message>
    <message>
        <source>B Binary</source>
        <translation>B Binär</translation>
    </message>
    <message>
        <source>Fields</source>
        <translation>Felder</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>Auf</translation>
    </message>
    <message>
        <source>Move field up</source>
        <translation>Feld nach oben verschieben</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>Ab</translation>
    </message>
    <message>
        <source>Move field down</source>
        <translation>Feld nach unten verschieben</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Add field</source>
        <translation>Feld hinzufügen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Delete field</source>
        <translation>Feld löschen</translation>
    </message>
    <message>
        <source>DBF Type</source>
        <translation>DBF-Typ</translation>
    </message>
    <message>
        <source>Clipper</source>
        <translation>Clipper</translation>
    </message>
    <message>
        <source>DBase III</source>
        <translation>dBase III</translation>
    </message>
    <message>
        <source>DBase IV</source>
        <translation>dBase IV</translation>
    </message>
    <message>
        <source>FoxPro</source>
        <translation>FoxPro</translation>
    </message>
    <message>
        <source>FPT Block size</source>
        <translation>FPT-Blockgröße</translation>
    </message>
    <message>
        <source>Only FoxPro file</source>
        <translation>Nur für FoxPro-Dateien</translation>
    </message>
    <message>
        <source>Create DBF</source>
        <translation>DBF anlegen</translation>
    </message>
    <message>
        <source>All Index file</source>
        <translation>Alle Indexdateien</translation>
    </message>
    <message>
        <source>Index files</source>
        <translation>Indexdateien</translation>
    </message>
    <message>
        <source>New</source>
        <translation>Neu</translation>
    </message>
    <message>
        <source>New index file</source>
        <translation>Neue Indexdatei</translation>
    </message>
    <message>
        <source>Del</source>
        <translation>Entf.</translation>
    </message>
    <message>
        <source>Delete index file</source>
        <translation>Indexdatei löschen</translation>
    </message>
    <message>
        <source>Index Tags</source>
        <translation>Index-Tags</translation>
    </message>
    <message>
        <source>New tag</source>
        <translation>Neues Tag</translation>
    </message>
    <message>
        <source>Delete tag</source>
        <translation>Tag löschen</translation>
    </message>
    <message>
        <source>Tag</source>
        <translation>Tag</translation>
    </message>
    <message>
        <source>Index File</source>
        <translation>Indexdatei</translation>
    </message>
    <message>
        <source>Index Tag</source>
        <translation>Index-Tag</translation>
    </message>
    <message>
        <source>Expression</source>
        <translation>Ausdruck</translation>
    </message>
    <message>
        <source>Expression index. Possible functions: AllTrim, Asc, At, Ceiling, Chr, CTOD, Date, Descend, DTOC, DTOS, Empty, Floor, IIF, Int, Left, Len, Lower, LTrim, PadC, PadL, PadR, Right, RTrim, Soudex, Space, Str, StrZero, SubStr, Trim, Upper, Val.</source>
        <translation>Indexausdruck. Mögliche Funktionen: AllTrim, Asc, At, Ceiling, Chr, CTOD, Date, Descend, DTOC, DTOS, Empty, Floor, IIF, Int, Left, Len, Lower, LTrim, PadC, PadL, PadR, Right, RTrim, Soudex, Space, Str, StrZero, SubStr, Trim, Upper, Val.</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>Unique</source>
        <translation>Eindeutig</translation>
    </message>
    <message>
        <source>Ascending</source>
        <translation>Aufsteigend</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Reindex</source>
        <translation>Neu indizieren</translation>
    </message>
    <message>
        <source>%1 (damaged)</source>
        <translation>%1 (beschädigt)</translation>
    </message>
    <message>
        <source>The tag %1 could not be deleted from %2.</source>
        <translation>Der Tag %1 konnte nicht aus %2 gelöscht werden.</translation>
    </message>
</context>
<context>
    <name>fendral::TTolvernNavigator</name>
    <message>
        <source>First record</source>
        <translation>Erster Datensatz</translation>
    </message>
    <message>
        <source>Prior record</source>
        <translation>Vorheriger Datensatz</translation>
    </message>
    <message>
        <source>Next record</source>
        <translation>Nächster Datensatz</translation>
    </message>
    <message>
        <source>Last record</source>
        <translation>Letzter Datensatz</translation>
    </message>
    <message>
        <source>Append record</source>
        <translation>Datensatz anhängen</translation>
    </message>
    <message>
        <source> Copy record</source>
        <translation> Datensatz kopieren</translation>
    </message>
    <message>
        <source>Edit record</source>
        <translation>Datensatz bearbeiten</translation>
    </message>
    <message>
        <source>Delete record</source>
        <translation>Datensatz löschen</translation>
    </message>
    <message>
        <source>Save record</source>
        <translation>Datensatz speichern</translation>
    </message>
    <message>
        <source>Cancel edit</source>
        <translation>Bearbeitung abbrechen</translation>
    </message>
    <message>
        <source>Find record</source>
        <translation>Datensatz suchen</translation>
    </message>
    <message>
        <source>Refresh data</source>
        <translation>Daten aktualisieren</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Delete record?</source>
        <translation>Datensatz löschen?</translation>
    </message>
</context>
</TS>