<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>ChangeLogViewer</name>
    <message>
        <source>Failed to load changelog.</source>
        <translation>Konnte Changelog nicht laden.</translation>
    </message>
    <message>
        <source>Loading...</source>
        <translation>Lade...</translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation>Changelog</translation>
    </message>
    <message>
        <source>[The change log is longer than 1 MiB and was cut here.]</source>
        <translation>[Das Changelog ist länger als 1 MiB und wurde hier abgeschnitten.]</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>&lt;p&gt;Update in progress.&lt;/p&gt;&lt;p&gt;Are you sure you want to abort?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Aktualisierung läuft momentan.&lt;/p&gt;&lt;p&gt;Wirklich abbrechen?&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Click to open &quot;%1://%2&quot;</source>
        <translation>Klick zum Öffnen von &quot;%1://%2&quot;</translation>
    </message>
    <message>
        <source>Question</source>
        <translation>Frage</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Neu starten</translation>
    </message>
    <message>
        <source>Start Corvane</source>
        <translation>Corvane starten</translation>
    </message>
    <message>
        <source>Start Update</source>
        <translation>Update starten</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisierung</translation>
    </message>
    <message>
        <source>Update cancelled</source>
        <translation>Aktualisierung abgebrochen</translation>
    </message>
    <message>
        <source>Update cancelled. Push &quot;Details&quot; to check reasons.</source>
        <translation>Aktualisierung abgebrochen. Drücken Sie &quot;Details&quot; für weitere Informationen.</translation>
    </message>
    <message>
        <source>Update to Corvane %1.</source>
        <translation>Update auf Corvane %1.</translation>
    </message>
    <message>
        <source>View Changes</source>
        <translation>Änderungen</translation>
    </message>
    <message>
        <source>You are currently on &lt;strong&gt;%1 channel&lt;/strong&gt;.</source>
        <translation>Sie benutzen den &lt;strong&gt;%1 Channel&lt;/strong&gt;.</translation>
    </message>
    <message>
        <source>Corvane Client Update</source>
        <translation>Corvane Client Aktualisierung</translation>
    </message>
    <message>
        <source>&lt;small&gt;Copyright &amp;copy; 2026 The Corvane authors, &lt;a href=&quot;https://www.corvane.example/&quot;&gt;www.corvane.example&lt;/a&gt;&lt;/small&gt;</source>
        <translation>&lt;small&gt;Copyright &amp;copy; 2026 Die Corvane-Autoren, &lt;a href=&quot;https://www.corvane.example/&quot;&gt;www.corvane.example&lt;/a&gt;&lt;/small&gt;</translation>
    </message>
    <message>
        <source>0 KB/s</source>
        <translation>0 KB/s</translation>
    </message>
    <message>
        <source>0 KB</source>
        <translation>0 KB</translation>
    </message>
    <message>
        <source>/</source>
        <translation>/</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>Stable</source>
        <translation>Stable</translation>
    </message>
    <message>
        <source>Beta</source>
        <translation>Beta</translation>
    </message>
    <message>
        <source>Alpha</source>
        <translation>Alpha</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 KB/s</source>
        <translation>%1 KB/s</translation>
    </message>
</context>
<context>
    <name>Mirrors</name>
    <message>
        <source>Mirror %1 failed too many times, removing</source>
        <translation>Mirror %1 zu oft fehlgeschlagen, entferne</translation>
    </message>
    <message>
        <source>There are no (more) known working mirrors available</source>
        <translation>Es gibt keine weiteren bekannten Mirrors</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>The installation in %1 is being updated by another updater. Nothing was changed; try again when it has finished.</source>
        <translation>Die Installation in %1 wird gerade von einem anderen Updater aktualisiert. Es wurde nichts geändert; versuchen Sie es erneut, wenn er fertig ist.</translation>
    </message>
    <message>
        <source>Cannot lock the installation: %1</source>
        <translation>Die Installation kann nicht gesperrt werden: %1</translation>
    </message>
    <message>
        <source>Invalid version nr (%1)</source>
        <translation>Ungültige Versionsnummer (%1)</translation>
    </message>
    <message>
        <source>Update server returned invalid version nr (%1)</source>
        <translation>Update Server meldete ungültige Versionsnummer (%1)</translation>
    </message>
    <message>
        <source>Failed to query latest client
version from update server
%1, UDP port %2.</source>
        <translation>Konnte aktuelle Client Version nicht
vom Aktualisierungsserver abfragen
%1, UDP-Port %2.</translation>
    </message>
</context>
</TS>
