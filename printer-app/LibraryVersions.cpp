// What the printer application tells clients of its software: its own name
// and version and each RT-50's firmware, never the versions of the
// libraries it is built on (a library's version tells an attacker which
// faults to try).
//
// PAPPL 1.3 adds its own, libcups', libjpeg's and libpng's versions to the
// printer-firmware-* and system-firmware-* attributes and its own to the
// HTTP Server header. It calls both functions below through the PLT, so
// the program's definitions (exported as the program is linked; never in a
// library) replace the library's.
#include <pappl/pappl.h>

#include <cstdio>

extern "C" {

// The Server header of every HTTP response.
const char* papplSystemGetServerHeader(pappl_system_t*)
{
    return "VANTORA_RT-50_Printer_Application/" VANTORA_VERSION " IPP/2.0";
}

// The <prefix>-firmware-name, -patches, -string-version and -version
// attributes of `group_tag` (printer or system) that `ra` asks for (all
// when null), from the versions the application set.
void _papplSystemExportVersions(pappl_system_t* system, ipp_t* ipp, ipp_tag_t group_tag, cups_array_t* ra)
{
    constexpr int kMaxVersions = 16;
    pappl_version_t versions[kMaxVersions];
    int count = papplSystemGetVersions(system, kMaxVersions, versions);
    if (count > kMaxVersions)
        count = kMaxVersions;
    if (count <= 0 || ipp == nullptr)
        return;
    const char* prefix = group_tag == IPP_TAG_PRINTER ? "printer" : "system";
    char name[64];
    auto wanted = [&](const char* what) {
        std::snprintf(name, sizeof name, "%s-firmware-%s", prefix, what);
        return ra == nullptr || cupsArrayFind(ra, name) != nullptr;
    };
    const char* values[kMaxVersions];
    if (wanted("name")) {
        for (int i = 0; i < count; ++i)
            values[i] = versions[i].name;
        ippAddStrings(ipp, group_tag, IPP_TAG_NAME, name, count, nullptr, values);
    }
    if (wanted("patches")) {
        for (int i = 0; i < count; ++i)
            values[i] = versions[i].patches;
        ippAddStrings(ipp, group_tag, IPP_TAG_TEXT, name, count, nullptr, values);
    }
    if (wanted("string-version")) {
        for (int i = 0; i < count; ++i)
            values[i] = versions[i].sversion;
        ippAddStrings(ipp, group_tag, IPP_TAG_TEXT, name, count, nullptr, values);
    }
    if (wanted("version")) {
        ipp_attribute_t* attr = ippAddOctetString(ipp, group_tag, name, versions[0].version, sizeof versions[0].version);
        for (int i = 1; i < count && attr != nullptr; ++i)
            ippSetOctetString(ipp, &attr, i, versions[i].version, sizeof versions[i].version);
    }
}

}  // extern "C"
