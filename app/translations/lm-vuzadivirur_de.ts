<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>ContentView</name>
    <message>
        <source>Note: LM Vuzadivirur requires Lumetra 2.5 or later to be installed.</source>
        <translation>Hinweis: LM Vuzadivirur setzt eine Installation von Lumetra 2.5 oder neuer voraus.</translation>
    </message>
    <message>
        <source>PNG image (*.png)</source>
        <translation>PNG-Bild (*.png)</translation>
    </message>
    <message>
        <source>Replace File</source>
        <translation>Datei ersetzen</translation>
    </message>
    <message>
        <source>%1 already exists.
Do you want to replace it?</source>
        <translation>%1 existiert bereits.
Soll die Datei ersetzt werden?</translation>
    </message>
    <message>
        <source>Matroska video (*.mkv)</source>
        <translation>Matroska-Video (*.mkv)</translation>
    </message>
</context>
<context>
    <name>LMVuzadivirurApp</name>
    <message>
        <source>LM Vuzadivirur</source>
        <translation>LM Vuzadivirur</translation>
    </message>
</context>
<context>
    <name>RecordButton</name>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>● %1</source>
        <translation>● %1</translation>
    </message>
</context>
<context>
    <name>StatusBar</name>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>Getrennt</translation>
    </message>
    <message>
        <source>•</source>
        <translation>•</translation>
    </message>
    <message>
        <source>Frame #%1</source>
        <translation>Bild Nr. %1</translation>
    </message>
    <message>
        <source>%1×%2</source>
        <translation>%1×%2</translation>
    </message>
    <message>
        <source>Save PNG</source>
        <translation>Als PNG sichern</translation>
    </message>
    <message>
        <source>Camera: 1 app</source>
        <translation>Kamera: 1 App</translation>
    </message>
    <message numerus="yes">
        <source>Camera: %n apps</source>
        <translation>
            <numerusform>Kamera: %n App</numerusform>
            <numerusform>Kamera: %n Apps</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>WaitingPanel</name>
    <message>
        <source>Waiting for Lumetra...</source>
        <translation>Warte auf Lumetra …</translation>
    </message>
    <message>
        <source>Start visualizing in Lumetra to see output here</source>
        <translation>Starten Sie die Visualisierung in Lumetra, um die Ausgabe hier zu sehen</translation>
    </message>
</context>
</TS>
