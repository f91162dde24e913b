// Small file helpers of the daemon's tests: a private folder, stand-in
// programs first in PATH, whole-file reads.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace usbmon_test {

// The offline form of a status file, byte for byte.
constexpr char kOfflineText[] =
    "#PRINTER_INFORMATION\nMODEL=\"\"\nPRINTER_STATUS=\"99999\"\nPRINTER_MESSAGE=\"00006\"\n"
    "PRINTER_VERSION=\"\"\nPRINTER_SERIAL_NO=\"\"\n\n#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\n"
    "MEDIA_CLASS=\"\"\nMEDIA_INITIAL=\"\"\nMEDIA_REMAIN=\"\"\n\n#COUNTER_INFORMATION\nTOTAL_COUNT=\"\"\n\n";

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteAll(const std::string& path, const std::string& text, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    chmod(path.c_str(), mode);
}

// A private folder under /tmp, removed with everything in it.
class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/usbmon.XXXXXX";
        path_ = mkdtemp(pattern) != nullptr ? pattern : "";
        chmod(path_.c_str(), 01777);
    }
    ~TempFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Puts a folder of stand-in programs first in PATH for the life of the object.
class StandIns {
public:
    explicit StandIns(const std::string& folder) : folder_(folder)
    {
        std::filesystem::create_directories(folder_);
        const char* path = std::getenv("PATH");
        saved_ = path != nullptr ? path : "/usr/bin:/bin";
        setenv("PATH", (folder_ + ":" + saved_).c_str(), 1);
    }
    ~StandIns() { setenv("PATH", saved_.c_str(), 1); }
    // A shell script named `name` with this body.
    void Add(const std::string& name, const std::string& body) const
    {
        WriteAll(folder_ + "/" + name, "#!/bin/sh\n" + body + "\n", 0755);
    }

private:
    std::string folder_;
    std::string saved_;
};

}  // namespace usbmon_test
