// The keys of the window's catalogue and the English texts they must show.
#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace status_test {

struct CatalogueEntry {
    const char *context;
    QString key;
    QString english;
};

inline std::vector<CatalogueEntry> CatalogueEntries()
{
    const QString restart = QStringLiteral(
        "Restart the printer and computer.\nIf the printer does not recover after the restart, contact the "
        "service center.");
    const QString load = QStringLiteral("Load new media.\n(Replace the paper and ribbon as a set.)");
    std::vector<CatalogueEntry> entries = {
        {"StatusDialog", "RT-50 Information", "RT-50 Information"},
        {"StatusDialog", "0%", "0%"},
        {"StatusDialog", "50%", "50%"},
        {"StatusDialog", "100%", "100%"},
        {"StatusDialog", "select_printer", "Select printer"},
        {"StatusDialog", "statusGroupBox", "Printer Status"},
        {"StatusDialog", "serialNoGroupBox", "Serial No."},
        {"StatusDialog", "fwGroupBox", "Firmware Version"},
        {"StatusDialog", "tcGroupBox", "Total Count"},
        {"StatusDialog", "updateButton", "Update"},
        {"StatusDialog", "About", "About"},
        {"StatusDialog", "mediaGroupTitle", "Media Info"},
        {"StatusDialog", "sheets", "Sheets"},
        {"StatusDialog", "st_00000", "Waiting"},
        {"StatusDialog", "st_00001", "Printing"},
        {"StatusDialog", "st_00500", "Cooling head"},
        {"StatusDialog", "st_00900", "Waiting (Power saving mode)"},
        {"StatusDialog", "st_01000", "Top door open"},
        {"StatusDialog", "st_01010", "No Trash box"},
        {"StatusDialog", "st_01100", "Paper end"},
        {"StatusDialog", "st_01200", "Ribbon end"},
        {"StatusDialog", "st_01300", "Paper jam"},
        {"StatusDialog", "st_01400", "Ribbon error"},
        {"StatusDialog", "st_01500", "Paper size setting error"},
        {"StatusDialog", "st_99999", "Offline"},
        {"StatusDialog", "ms_00001", " "},
        {"StatusDialog", "ms_00002", " "},
        {"StatusDialog", "ms_00003", "Please wait a while.\nPrinting will resume automatically."},
        {"StatusDialog", "ms_00004", " "},
        {"StatusDialog", "ms_00005", " "},
        {"StatusDialog", "ms_00006", "Connect the printer and computer, and turn on the power."},
        {"StatusDialog", "ms_00100", "Close the printer."},
        {"StatusDialog", "ms_00101", "Attach the trash box."},
        {"StatusDialog", "ms_00102", load},
        {"StatusDialog", "ms_00103", load},
        {"StatusDialog", "ms_00104", "Remove the paper and reload it properly."},
        {"StatusDialog", "ms_00105", "Reload the ribbon properly."},
        {"StatusDialog", "ms_00106", "Check the paper size setting and ribbon size."},
        {"StatusDialog", "ms_00107", restart},
        {"StatusDialog", "ms_00108", "\n<< Incorrect media type has been loaded. >>"},
        {"StatusDialog", "size_00150", "4x6in"},
        {"StatusDialog", "size_00161", "4.5x8in"},
        {"StatusDialog", "class_0001", QString()},  // wording of our own
        {"StatusDialog", "class_0002", QString()},
        {"StatusDialog", "class_0003", QString()},
        {"VersionDialog", "RT-50 Information", "RT-50 Information"},
        {"VersionDialog", "Version", "Version"},
    };
    for (const char *code : {"01600", "02000", "02100", "02200", "02300", "02400", "02500", "02600", "02610",
                             "02700", "02800", "03000"})
        entries.push_back({"StatusDialog", QStringLiteral("st_") + QLatin1String(code), "System error"});
    for (int code = 200; code <= 210; ++code)
        entries.push_back({"StatusDialog", QStringLiteral("ms_%1").arg(code, 5, 10, QLatin1Char('0')), restart});
    return entries;
}

inline QStringList Languages()
{
    return {"en", "de", "fr", "es", "ja", "zh"};
}

}  // namespace status_test
