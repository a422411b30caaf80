<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
    <context>
        <name>QObject</name>
        <message>
            <source>example</source>
            <translation>Beispiel</translation>
        </message>
        <message>
            <source>Description</source>
            <translation>Beschreibung</translation>
        </message>
        <message>
            <source>This file is used by SDK to show image for example inside Welcome screen.
It is not the part of the example.</source>
            <translation>Diese Datei verwendet das SDK, um das Bild des Beispiels im Willkommensbildschirm anzuzeigen.
Sie ist nicht Teil des Beispiels.</translation>
        </message>
        <message>
            <source>Unable to cast repository from: %1</source>
            <translation>Repository kann nicht ermittelt werden aus: %1</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::ApiClient</name>
        <message>
            <source>Fetch error: the next page is not on this server</source>
            <translation>Abruffehler: die nächste Seite liegt nicht auf diesem Server</translation>
        </message>
        <message>
            <source>Fetch error: the listing has more than %1 pages</source>
            <translation>Abruffehler: die Liste hat mehr als %1 Seiten</translation>
        </message>
        <message>
            <source>The reply exceeds the size limit of %1 bytes</source>
            <translation>Die Antwort überschreitet die Größengrenze von %1 Bytes</translation>
        </message>
        <message>
            <source>No data received for %1 ms</source>
            <translation>Seit %1 ms keine Daten empfangen</translation>
        </message>
        <message>
            <source>Network error: %1</source>
            <translation>Netzwerkfehler: %1</translation>
        </message>
        <message>
            <source>Searching examples</source>
            <translation>Beispiele werden gesucht</translation>
        </message>
        <message>
            <source>Search error: request return null object</source>
            <translation>Suchfehler: Die Anfrage lieferte kein Objekt</translation>
        </message>
        <message>
            <source>Search error: request return wrong data - no id field</source>
            <translation>Suchfehler: Die Anfrage lieferte falsche Daten - kein Feld "id"</translation>
        </message>
        <message>
            <source>API client is ready</source>
            <translation>API-Client ist bereit</translation>
        </message>
        <message>
            <source>Repository error: group id not found - unable to fetch examples</source>
            <translation>Repository-Fehler: Gruppen-ID nicht gefunden - Beispiele können nicht abgerufen werden</translation>
        </message>
        <message>
            <source>Fetch examples</source>
            <translation>Beispiele werden abgerufen</translation>
        </message>
        <message>
            <source>Fetch error: request return null object</source>
            <translation>Abruffehler: Die Anfrage lieferte kein Objekt</translation>
        </message>
        <message>
            <source>Fetch error: request return wrong data - no projects field</source>
            <translation>Abruffehler: Die Anfrage lieferte falsche Daten - kein Feld "projects"</translation>
        </message>
        <message>
            <source>Downloading example: %1</source>
            <translation>Beispiel wird heruntergeladen: %1</translation>
        </message>
        <message>
            <source>Unable to download image: %1</source>
            <translation>Bild kann nicht heruntergeladen werden: %1</translation>
        </message>
        <message>
            <source>Protocol "%1" is not supported for images</source>
            <translation>Das Protokoll "%1" wird für Bilder nicht unterstützt</translation>
        </message>
        <message>
            <source>The transfer took longer than %1 ms</source>
            <translation>Die Übertragung dauerte länger als %1 ms</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::CheckProgress</name>
        <message>
            <source>Checking examples of %1</source>
            <translation>Beispiele von %1 werden geprüft</translation>
        </message>
        <message>
            <source>Nothing to install</source>
            <translation>Nichts zu installieren</translation>
        </message>
        <message numerus="yes">
            <source>%n example(s) to install</source>
            <translation>
                <numerusform>%n Beispiel zu installieren</numerusform>
                <numerusform>%n Beispiele zu installieren</numerusform>
            </translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::DownloadService</name>
        <message>
            <source>Updated example %1 - kept your changes in %2</source>
            <translation>Beispiel %1 aktualisiert - Ihre Änderungen liegen in %2</translation>
        </message>
        <message>
            <source>Skip downloading examples - unable to find repository for name: %1</source>
            <translation>Herunterladen übersprungen - kein Repository mit dem Namen: %1</translation>
        </message>
        <message>
            <source>Skip downloading examples - unable to find repository for url: %1</source>
            <translation>Herunterladen übersprungen - kein Repository für die URL: %1</translation>
        </message>
        <message>
            <source>The data is not downloaded for example: %1</source>
            <translation>Die Daten des Beispiels wurden nicht heruntergeladen: %1</translation>
        </message>
        <message>
            <source>Skip saving example %1 - unable to find repository name for url: %2</source>
            <translation>Speichern von Beispiel %1 übersprungen - kein Repository-Name für die URL: %2</translation>
        </message>
        <message>
            <source>Skip saving example %1 - unusable folder name: %2</source>
            <translation>Speichern von Beispiel %1 übersprungen - unbrauchbarer Ordnername: %2</translation>
        </message>
        <message>
            <source>Unpacking example: %1</source>
            <translation>Beispiel wird entpackt: %1</translation>
        </message>
        <message>
            <source>Downloaded file is not an archive</source>
            <translation>Die heruntergeladene Datei ist kein Archiv</translation>
        </message>
        <message>
            <source>There was an error while unarchiving</source>
            <translation>Beim Entpacken ist ein Fehler aufgetreten</translation>
        </message>
        <message>
            <source>Skip registering example %1 - unable to find repository for name: %2</source>
            <translation>Registrieren von Beispiel %1 übersprungen - kein Repository mit dem Namen: %2</translation>
        </message>
        <message>
            <source>There was an error while creating example mainfest</source>
            <translation>Beim Erstellen des Beispiel-Manifests ist ein Fehler aufgetreten</translation>
        </message>
        <message>
            <source>API client is not ready - restarting</source>
            <translation>API-Client ist nicht bereit - Neustart</translation>
        </message>
        <message>
            <source>Examples are not listed - restarting</source>
            <translation>Beispiele wurden nicht aufgelistet - Neustart</translation>
        </message>
        <message>
            <source>Skip repository %1 - unusable folder name</source>
            <translation>Repository %1 übersprungen - unbrauchbarer Ordnername</translation>
        </message>
        <message>
            <source>Unable to save the download of example %1 in %2</source>
            <translation>Der Download von Beispiel %1 kann nicht in %2 gespeichert werden</translation>
        </message>
        <message>
            <source>Skip installing example %1 - its archive does not hold one folder named after it</source>
            <translation>Installation von Beispiel %1 übersprungen - sein Archiv enthält keinen Ordner mit seinem Namen</translation>
        </message>
        <message>
            <source>Unable to replace example %1 in %2</source>
            <translation>Beispiel %1 in %2 kann nicht ersetzt werden</translation>
        </message>
        <message>
            <source>Skip registering example %1 - it was removed</source>
            <translation>Registrieren von Beispiel %1 übersprungen - es wurde entfernt</translation>
        </message>
        <message>
            <source>Skip saving example %1 - the installation was canceled</source>
            <translation>Speichern von Beispiel %1 übersprungen - die Installation wurde abgebrochen</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::ExamplesDialog</name>
        <message>
            <source>Select Examples to Install</source>
            <translation>Zu installierende Beispiele auswählen</translation>
        </message>
        <message>
            <source>Filter examples</source>
            <translation>Beispiele filtern</translation>
        </message>
        <message>
            <source>&lt;table&gt;&lt;tbody&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Name:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%1&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Description:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%2&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Updated:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%3&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Location:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%4&lt;/td&gt;&lt;/tr&gt;&lt;/tbody&gt;&lt;/table&gt;</source>
            <translation>&lt;table&gt;&lt;tbody&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Name:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%1&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Beschreibung:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%2&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Aktualisiert:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%3&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Ort:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%4&lt;/td&gt;&lt;/tr&gt;&lt;/tbody&gt;&lt;/table&gt;</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::InstallationProgress</name>
        <message>
            <source>Installing examples from %1</source>
            <translation>Beispiele aus %1 werden installiert</translation>
        </message>
        <message>
            <source>%1 of %2 examples done</source>
            <translation>%1 von %2 Beispielen erledigt</translation>
        </message>
        <message>
            <source>%1 of %2 examples done, %3 failed</source>
            <translation>%1 von %2 Beispielen erledigt, %3 fehlgeschlagen</translation>
        </message>
        <message>
            <source>%1 failed</source>
            <translation>%1 fehlgeschlagen</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::OptionsWidget</name>
        <message>
            <source>What the latest updates did with your changes</source>
            <translation>Was die letzten Aktualisierungen mit Ihren Änderungen gemacht haben</translation>
        </message>
        <message>
            <source>%1, changed locally</source>
            <translation>%1, lokal geändert</translation>
        </message>
        <message numerus="yes">
            <source>%n more file(s)</source>
            <translation>
                <numerusform>%n weitere Datei</numerusform>
                <numerusform>%n weitere Dateien</numerusform>
            </translation>
        </message>
        <message>
            <source>Remove Changed Examples</source>
            <translation>Geänderte Beispiele entfernen</translation>
        </message>
        <message>
            <source>Removing deletes the changes you made in these examples:</source>
            <translation>Beim Entfernen gehen Ihre Änderungen an diesen Beispielen verloren:</translation>
        </message>
        <message>
            <source>Add or remove examples from selected repository</source>
            <translation>Beispiele des gewählten Repositorys hinzufügen oder entfernen</translation>
        </message>
        <message>
            <source>Installed Examples</source>
            <translation>Installierte Beispiele</translation>
        </message>
        <message>
            <source>Repository:</source>
            <translation>Repository:</translation>
        </message>
        <message>
            <source>Selected repository name</source>
            <translation>Name des gewählten Repositorys</translation>
        </message>
        <message>
            <source>List of installed examples</source>
            <translation>Liste der installierten Beispiele</translation>
        </message>
        <message>
            <source>Filter examples</source>
            <translation>Beispiele filtern</translation>
        </message>
        <message>
            <source>Add examples from online repository</source>
            <translation>Beispiele aus dem Online-Repository hinzufügen</translation>
        </message>
        <message>
            <source>Add...</source>
            <translation>Hinzufügen...</translation>
        </message>
        <message>
            <source>Remove selected installed examples</source>
            <translation>Ausgewählte installierte Beispiele entfernen</translation>
        </message>
        <message>
            <source>Remove</source>
            <translation>Entfernen</translation>
        </message>
        <message>
            <source>Install the newer version of the selected examples</source>
            <translation>Die neuere Version der ausgewählten Beispiele installieren</translation>
        </message>
        <message>
            <source>Update</source>
            <translation>Aktualisieren</translation>
        </message>
        <message>
            <source>Online Updates</source>
            <translation>Online-Aktualisierungen</translation>
        </message>
        <message>
            <source>Check every</source>
            <translation>Prüfen alle</translation>
        </message>
        <message>
            <source>Timeout for checking example updates and downloading new examples.
Set 0 to disable automatic updates.</source>
            <translation>Abstand der Prüfung auf Aktualisierungen und des Herunterladens neuer Beispiele.
0 schaltet die automatischen Aktualisierungen aus.</translation>
        </message>
        <message>
            <source>day(s)</source>
            <translation>Tag(e)</translation>
        </message>
        <message>
            <source>&lt;table&gt;&lt;tbody&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Folder:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%1&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Link:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%2&lt;/td&gt;&lt;/tr&gt;&lt;/tbody&gt;&lt;/table&gt;</source>
            <translation>&lt;table&gt;&lt;tbody&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Ordner:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%1&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Link:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%2&lt;/td&gt;&lt;/tr&gt;&lt;/tbody&gt;&lt;/table&gt;</translation>
        </message>
        <message>
            <source>Update available</source>
            <translation>Aktualisierung verfügbar</translation>
        </message>
        <message>
            <source>Updated</source>
            <translation>Aktuell</translation>
        </message>
        <message>
            <source>Update on Apply</source>
            <translation>Aktualisierung beim Anwenden</translation>
        </message>
        <message>
            <source>&lt;table&gt;&lt;tbody&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Location:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%1&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Part of:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%2&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Updated:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%3&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Status:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%4&lt;/td&gt;&lt;/tr&gt;&lt;/tbody&gt;&lt;/table&gt;</source>
            <translation>&lt;table&gt;&lt;tbody&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Ort:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%1&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Teil von:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%2&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Aktualisiert:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%3&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Status:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%4&lt;/td&gt;&lt;/tr&gt;&lt;/tbody&gt;&lt;/table&gt;</translation>
        </message>
        <message>
            <source>&lt;table&gt;&lt;tbody&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Location:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%1&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Updated:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%2&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Status:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%3&lt;/td&gt;&lt;/tr&gt;&lt;/tbody&gt;&lt;/table&gt;</source>
            <translation>&lt;table&gt;&lt;tbody&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Ort:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%1&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Aktualisiert:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%2&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td style="width: 40%;"&gt;Status:&amp;nbsp;&lt;/td&gt;&lt;td style="width: 60%;"&gt;%3&lt;/td&gt;&lt;/tr&gt;&lt;/tbody&gt;&lt;/table&gt;</translation>
        </message>
        <message>
            <source>Examples Not Found</source>
            <translation>Keine Beispiele gefunden</translation>
        </message>
        <message>
            <source>Check your online connection and try again later!</source>
            <translation>Prüfen Sie Ihre Internetverbindung und versuchen Sie es später erneut!</translation>
        </message>
        <message>
            <source>Examples Not Selected</source>
            <translation>Keine Beispiele ausgewählt</translation>
        </message>
        <message>
            <source>Select examples to remove, press Remove button, then press Apply button to apply changes.</source>
            <translation>Wählen Sie die zu entfernenden Beispiele, klicken Sie auf Entfernen und dann auf Anwenden, um die Änderungen zu übernehmen.</translation>
        </message>
        <message>
            <source>"%1" is part of the example "%2" and is removed together with it.</source>
            <translation>„%1“ ist Teil des Beispiels „%2“ und wird zusammen mit ihm entfernt.</translation>
        </message>
        <message>
            <source>Examples Not Removed</source>
            <translation>Beispiele nicht entfernt</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::Plugin</name>
        <message>
            <source>Open location...</source>
            <translation>Speicherort öffnen...</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::Repository</name>
        <message>
            <source>The address is no GitLab group: %1</source>
            <translation>Die Adresse ist keine GitLab-Gruppe: %1</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::TidepoolPlugin</name>
        <message>
            <source>Examples</source>
            <translation>Beispiele</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::ArchiveDownload</name>
        <message>
            <source>Unable to save the download in %1: %2</source>
            <translation>Der Download kann nicht in %1 gespeichert werden: %2</translation>
        </message>
    </context>
    <context>
        <name>Tidepool::Internal::ArchiveGauge</name>
        <message>
            <source>The archive cannot be inspected</source>
            <translation>Das Archiv kann nicht geprüft werden</translation>
        </message>
        <message>
            <source>Downloaded file is not an archive</source>
            <translation>Die heruntergeladene Datei ist kein Archiv</translation>
        </message>
        <message>
            <source>The archive unpacks to more than %1 MiB</source>
            <translation>Das Archiv entpackt sich zu mehr als %1 MiB</translation>
        </message>
        <message>
            <source>The archive unpacks to more than %1 times its size</source>
            <translation>Das Archiv entpackt sich zu mehr als dem %1-Fachen seiner Größe</translation>
        </message>
        <message>
            <source>The archive holds sparse files</source>
            <translation>Das Archiv enthält Sparse-Dateien</translation>
        </message>
        <message>
            <source>The archive holds more than %1 entries</source>
            <translation>Das Archiv enthält mehr als %1 Einträge</translation>
        </message>
    </context>
</TS>