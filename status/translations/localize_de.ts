<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>StatusDialog</name>
    <message>
        <source>RT-50 Information</source>
        <translation>RT-50-Informationen</translation>
    </message>
    <message>
        <source>0%</source>
        <translation>0 %</translation>
    </message>
    <message>
        <source>50%</source>
        <translation>50 %</translation>
    </message>
    <message>
        <source>100%</source>
        <translation>100 %</translation>
    </message>
    <message>
        <source>select_printer</source>
        <translation>Drucker auswählen</translation>
    </message>
    <message>
        <source>statusGroupBox</source>
        <translation>Druckerstatus</translation>
    </message>
    <message>
        <source>serialNoGroupBox</source>
        <translation>Seriennummer</translation>
    </message>
    <message>
        <source>fwGroupBox</source>
        <translation>Firmware-Version</translation>
    </message>
    <message>
        <source>tcGroupBox</source>
        <translation>Drucke insgesamt</translation>
    </message>
    <message>
        <source>updateButton</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>mediaGroupTitle</source>
        <translation>Medieninformationen</translation>
    </message>
    <message>
        <source>sheets</source>
        <translation>Blatt</translation>
    </message>
    <message>
        <source>st_00000</source>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>st_00001</source>
        <translation>Druckvorgang läuft</translation>
    </message>
    <message>
        <source>st_00500</source>
        <translation>Druckkopf kühlt ab</translation>
    </message>
    <message>
        <source>st_00900</source>
        <translation>Bereit (Energiesparmodus)</translation>
    </message>
    <message>
        <source>st_01000</source>
        <translation>Obere Abdeckung offen</translation>
    </message>
    <message>
        <source>st_01010</source>
        <translation>Kein Abfallbehälter</translation>
    </message>
    <message>
        <source>st_01100</source>
        <translation>Papier leer</translation>
    </message>
    <message>
        <source>st_01200</source>
        <translation>Farbband verbraucht</translation>
    </message>
    <message>
        <source>st_01300</source>
        <translation>Papierstau</translation>
    </message>
    <message>
        <source>st_01400</source>
        <translation>Farbbandfehler</translation>
    </message>
    <message>
        <source>st_01500</source>
        <translation>Fehler bei der Papierformateinstellung</translation>
    </message>
    <message>
        <source>st_01600</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02000</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02100</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02200</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02300</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02400</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02500</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02600</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02610</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02700</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_02800</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_03000</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>st_99999</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>ms_00001</source>
        <translation> </translation>
    </message>
    <message>
        <source>ms_00002</source>
        <translation> </translation>
    </message>
    <message>
        <source>ms_00003</source>
        <translation>Bitte warten Sie einen Moment.
Der Druck wird automatisch fortgesetzt.</translation>
    </message>
    <message>
        <source>ms_00004</source>
        <translation> </translation>
    </message>
    <message>
        <source>ms_00005</source>
        <translation> </translation>
    </message>
    <message>
        <source>ms_00006</source>
        <translation>Verbinden Sie Drucker und Computer und schalten Sie den Drucker ein.</translation>
    </message>
    <message>
        <source>ms_00100</source>
        <translation>Schließen Sie die Abdeckung des Druckers.</translation>
    </message>
    <message>
        <source>ms_00101</source>
        <translation>Setzen Sie den Abfallbehälter ein.</translation>
    </message>
    <message>
        <source>ms_00102</source>
        <translation>Legen Sie neue Medien ein.
(Papier und Farbband immer zusammen als Set ersetzen.)</translation>
    </message>
    <message>
        <source>ms_00103</source>
        <translation>Legen Sie neue Medien ein.
(Papier und Farbband immer zusammen als Set ersetzen.)</translation>
    </message>
    <message>
        <source>ms_00104</source>
        <translation>Nehmen Sie das Papier heraus und legen Sie es richtig wieder ein.</translation>
    </message>
    <message>
        <source>ms_00105</source>
        <translation>Legen Sie das Farbband richtig ein.</translation>
    </message>
    <message>
        <source>ms_00106</source>
        <translation>Überprüfen Sie die Papierformateinstellung und das Format des Farbbands.</translation>
    </message>
    <message>
        <source>ms_00107</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00108</source>
        <translation>
&lt;&lt; Es wurde ein falscher Medientyp eingelegt. &gt;&gt;</translation>
    </message>
    <message>
        <source>ms_00200</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00201</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00202</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00203</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00204</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00205</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00206</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00207</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00208</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00209</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>ms_00210</source>
        <translation>Starten Sie Drucker und Computer neu.
Wenn der Drucker danach nicht wieder betriebsbereit ist, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>class_0001</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>class_0002</source>
        <translation>Premium</translation>
    </message>
    <message>
        <source>class_0003</source>
        <translation>Professional</translation>
    </message>
    <message>
        <source>size_00150</source>
        <translation>4x6 Zoll</translation>
    </message>
    <message>
        <source>size_00161</source>
        <translation>4,5x8 Zoll</translation>
    </message>
</context>
<context>
    <name>VersionDialog</name>
    <message>
        <source>RT-50 Information</source>
        <translation>RT-50-Informationen</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Version</translation>
    </message>
</context>
</TS>
