<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="sv_SE">
<context>
    <name>sorvel-cli</name>
    <message>
        <source>Användning: sorvel-cli list [-r] [--json] SÖKVÄG...
            sorvel-cli set [--dry-run] [--json] FÄLT=VÄRDE... [--] FIL...
            sorvel-cli names-to-tags [--dry-run] [--json] [--split N] FIL...
            sorvel-cli tags-to-names [--dry-run] [--json] FIL...
            sorvel-cli from-v2 [--dry-run] [--json] FIL...
            sorvel-cli genres
            sorvel-cli --version
Filerna kan också läsas ur en lista: --files-from LISTA (- för standard in), en per rad,
eller med -0 åtskilda av NUL. SÖKVÄG är en mapp eller en fil; -r tar med mapparna under.
FÄLT är artist, title, album, year, genre, comment eller track. N är 1 till 4 (1 om inget ges).
Slutstatus: 0 alla filer klara, 1 några inte (var och en nämnd), 2 fel användning.
Se sorvel-cli(1).
</source>
        <translation>Usage: sorvel-cli list [-r] [--json] PATH...
       sorvel-cli set [--dry-run] [--json] FIELD=VALUE... [--] FILE...
       sorvel-cli names-to-tags [--dry-run] [--json] [--split N] FILE...
       sorvel-cli tags-to-names [--dry-run] [--json] FILE...
       sorvel-cli from-v2 [--dry-run] [--json] FILE...
       sorvel-cli genres
       sorvel-cli --version
The files can also come from a list: --files-from LIST (- for standard input), one a line,
or with -0 separated by NUL. PATH is a folder or a file; -r takes in the folders below.
FIELD is artist, title, album, year, genre, comment or track. N is 1 to 4 (1 if not given).
Exit status: 0 every file handled, 1 some not (each named), 2 wrong usage.
See sorvel-cli(1).
</translation>
    </message>
    <message>
        <source>Fältet rymmer högst %1 tecken, alla ur Windows-1252: %2</source>
        <translation>The field holds at most %1 characters, all from Windows-1252: %2</translation>
    </message>
    <message>
        <source>Spåret är ett tal från 0 till 255: %1</source>
        <translation>The track is a number from 0 to 255: %1</translation>
    </message>
    <message>
        <source>Okänd genre: %1 (sorvel-cli genres visar dem)</source>
        <translation>Unknown genre: %1 (sorvel-cli genres shows them)</translation>
    </message>
    <message>
        <source>okänt kommando: %1</source>
        <translation>unknown command: %1</translation>
    </message>
    <message>
        <source>--files-from tar en lista, eller - för standard in</source>
        <translation>--files-from takes a list, or - for standard input</translation>
    </message>
    <message>
        <source>--split tar 1, 2, 3 eller 4</source>
        <translation>--split takes 1, 2, 3 or 4</translation>
    </message>
    <message>
        <source>okänd flagga: %1</source>
        <translation>unknown option: %1</translation>
    </message>
    <message>
        <source>genres tar inga argument</source>
        <translation>genres takes no arguments</translation>
    </message>
    <message>
        <source>okänt fält: %1</source>
        <translation>unknown field: %1</translation>
    </message>
    <message>
        <source>inget FÄLT=VÄRDE</source>
        <translation>no FIELD=VALUE</translation>
    </message>
    <message>
        <source>en tom sökväg</source>
        <translation>an empty path</translation>
    </message>
    <message>
        <source>ingen mapp eller fil</source>
        <translation>no folder or file</translation>
    </message>
    <message>
        <source>inga filer</source>
        <translation>no files</translation>
    </message>
    <message>
        <source>standard ut</source>
        <translation>standard output</translation>
    </message>
    <message>
        <source>skrivskyddad eller låst</source>
        <translation>read-only or locked</translation>
    </message>
    <message>
        <source>finns inte</source>
        <translation>no such file or folder</translation>
    </message>
    <message>
        <source>tecken som en tagg inte kan lagra</source>
        <translation>characters a tag cannot hold</translation>
    </message>
    <message>
        <source>disken är full</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <source>namnet är upptaget</source>
        <translation>the name is taken</translation>
    </message>
    <message>
        <source>ändrad sedan dess</source>
        <translation>changed since</translation>
    </message>
    <message>
        <source>ändrad sedan listan lästes</source>
        <translation>changed since the list was read</translation>
    </message>
    <message>
        <source>ingen MP3-fil</source>
        <translation>not an MP3 file</translation>
    </message>
    <message>
        <source>ogiltigt filnamn</source>
        <translation>invalid file name</translation>
    </message>
    <message>
        <source>läs- eller skrivfel på enheten</source>
        <translation>read or write error on the device</translation>
    </message>
    <message>
        <source>för många öppna filer</source>
        <translation>too many open files</translation>
    </message>
    <message>
        <source>enheten går inte att komma åt</source>
        <translation>the device cannot be reached</translation>
    </message>
    <message>
        <source>på en annan enhet</source>
        <translation>on another device</translation>
    </message>
    <message>
        <source>ingen vanlig fil</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>länken pekar inte på en MP3-fil</source>
        <translation>the link does not lead to an MP3 file</translation>
    </message>
    <message>
        <source>kanske skriven, inte bekräftad: </source>
        <translation>perhaps written, not confirmed: </translation>
    </message>
    <message>
        <source>1 fil saknar ID3v2- och APEv2-tag och lämnades som den var.</source>
        <translation>1 file has no ID3v2 or APEv2 tag and was left as it was.</translation>
    </message>
    <message>
        <source>%1 filer saknar ID3v2- och APEv2-tag och lämnades som de var.</source>
        <translation>%1 files have no ID3v2 or APEv2 tag and were left as they were.</translation>
    </message>
    <message>
        <source>åtkomst nekad</source>
        <translation>permission denied</translation>
    </message>
</context>
</TS>
