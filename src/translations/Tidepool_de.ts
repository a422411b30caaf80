<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Tidepool::Internal::Plugin</name>
    <message>
        <source>Open location...</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Tidepool::Internal::TidepoolPlugin</name>
    <message>
        <source>Examples</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
