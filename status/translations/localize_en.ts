<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>StatusDialog</name>
    <message>
        <source>RT-50 Information</source>
        <translation>RT-50 Information</translation>
    </message>
    <message>
        <source>0%</source>
        <translation>0%</translation>
    </message>
    <message>
        <source>50%</source>
        <translation>50%</translation>
    </message>
    <message>
        <source>100%</source>
        <translation>100%</translation>
    </message>
    <message>
        <source>select_printer</source>
        <translation>Select printer</translation>
    </message>
    <message>
        <source>statusGroupBox</source>
        <translation>Printer Status</translation>
    </message>
    <message>
        <source>serialNoGroupBox</source>
        <translation>Serial No.</translation>
    </message>
    <message>
        <source>fwGroupBox</source>
        <translation>Firmware Version</translation>
    </message>
    <message>
        <source>tcGroupBox</source>
        <translation>Total Count</translation>
    </message>
    <message>
        <source>updateButton</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>mediaGroupTitle</source>
        <translation>Media Info</translation>
    </message>
    <message>
        <source>sheets</source>
        <translation>Sheets</translation>
    </message>
    <message>
        <source>st_00000</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>st_00001</source>
        <translation>Printing</translation>
    </message>
    <message>
        <source>st_00500</source>
        <translation>Cooling head</translation>
    </message>
    <message>
        <source>st_00900</source>
        <translation>Waiting (Power saving mode)</translation>
    </message>
    <message>
        <source>st_01000</source>
        <translation>Top door open</translation>
    </message>
    <message>
        <source>st_01010</source>
        <translation>No Trash box</translation>
    </message>
    <message>
        <source>st_01100</source>
        <translation>Paper end</translation>
    </message>
    <message>
        <source>st_01200</source>
        <translation>Ribbon end</translation>
    </message>
    <message>
        <source>st_01300</source>
        <translation>Paper jam</translation>
    </message>
    <message>
        <source>st_01400</source>
        <translation>Ribbon error</translation>
    </message>
    <message>
        <source>st_01500</source>
        <translation>Paper size setting error</translation>
    </message>
    <message>
        <source>st_01600</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02000</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02100</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02200</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02300</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02400</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02500</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02600</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02610</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02700</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_02800</source>
        <translation>System error</translation>
    </message>
    <message>
        <source>st_03000</source>
        <translation>System error</translation>
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
        <translation>Please wait a while.
Printing will resume automatically.</translation>
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
        <translation>Connect the printer and computer, and turn on the power.</translation>
    </message>
    <message>
        <source>ms_00100</source>
        <translation>Close the printer.</translation>
    </message>
    <message>
        <source>ms_00101</source>
        <translation>Attach the trash box.</translation>
    </message>
    <message>
        <source>ms_00102</source>
        <translation>Load new media.
(Replace the paper and ribbon as a set.)</translation>
    </message>
    <message>
        <source>ms_00103</source>
        <translation>Load new media.
(Replace the paper and ribbon as a set.)</translation>
    </message>
    <message>
        <source>ms_00104</source>
        <translation>Remove the paper and reload it properly.</translation>
    </message>
    <message>
        <source>ms_00105</source>
        <translation>Reload the ribbon properly.</translation>
    </message>
    <message>
        <source>ms_00106</source>
        <translation>Check the paper size setting and ribbon size.</translation>
    </message>
    <message>
        <source>ms_00107</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00108</source>
        <translation>
&lt;&lt; Incorrect media type has been loaded. &gt;&gt;</translation>
    </message>
    <message>
        <source>ms_00200</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00201</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00202</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00203</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00204</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00205</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00206</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00207</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00208</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00209</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
    </message>
    <message>
        <source>ms_00210</source>
        <translation>Restart the printer and computer.
If the printer does not recover after the restart, contact the service center.</translation>
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
        <translation>4x6in</translation>
    </message>
    <message>
        <source>size_00161</source>
        <translation>4.5x8in</translation>
    </message>
</context>
<context>
    <name>VersionDialog</name>
    <message>
        <source>RT-50 Information</source>
        <translation>RT-50 Information</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Version</translation>
    </message>
</context>
</TS>
