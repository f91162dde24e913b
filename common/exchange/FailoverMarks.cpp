#include "FailoverMarks.h"

#include "ExchangeFiles.h"
#include "PrivateFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_exchange {

namespace {

constexpr size_t kMaxMarkBytes = 4096;
constexpr size_t kMaxQueueName = 127;

// An absolute folder of this user's that nobody else may enter (made when
// missing with `make`).
bool UsableFolder(const std::string& folder, bool make)
{
    return !folder.empty() && folder[0] == '/' && UsablePrivateFolder(folder, make);
}

// A text fit for one line of the mark: control characters become spaces.
std::string OneLine(const std::string& text)
{
    std::string line = text.substr(0, 512);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return line;
}

// Reads the mark file of `serial`; false when it is missing, too large or broken.
bool ReadMark(const std::string& folder, const std::string& serial, FailoverMark* mark)
{
    std::string text;
    if (!ReadSmallFile(folder + "/" + serial, kMaxMarkBytes, &text) || text.empty())
        return false;
    FailoverMark loaded;
    loaded.serial = serial;
    // Lines that are no "key=value" are passed over.
    std::vector<std::pair<std::string, std::string>> pairs;
    SplitKeyLines(text, &pairs);
    for (const auto& [key, value] : pairs) {
        if (key == "queue")
            loaded.queue = value;
        else if (key == "reason")
            loaded.reason = value;
    }
    if (loaded.queue.empty() || loaded.queue.size() > kMaxQueueName)
        return false;
    *mark = loaded;
    return true;
}

}  // namespace

std::string FailoverFolder()
{
    const char* folder = std::getenv(kFailoverFolderVariable);
    return folder != nullptr && folder[0] == '/' ? folder : kFailoverFolder;
}

bool WriteFailoverMark(const std::string& folder, const FailoverMark& mark)
{
    if (!IsValidSerial(mark.serial.c_str()) || mark.queue.empty() || mark.queue.size() > kMaxQueueName ||
        mark.queue.find_first_of("\n\r") != std::string::npos || !UsableFolder(folder, true))
        return false;
    const std::string text = "queue=" + mark.queue + "\nreason=" + OneLine(mark.reason) + "\n";
    return WriteFileWhole(folder + "/" + mark.serial, folder + "/." + mark.serial + ".new", text);
}

std::vector<FailoverMark> ReadFailoverMarks(const std::string& folder)
{
    std::vector<FailoverMark> marks;
    if (!UsableFolder(folder, false))
        return marks;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return marks;
    while (const dirent* entry = readdir(dir)) {
        FailoverMark mark;
        if (IsValidSerial(entry->d_name) && entry->d_name[0] != '.' && ReadMark(folder, entry->d_name, &mark))
            marks.push_back(mark);
    }
    closedir(dir);
    return marks;
}

bool RemoveFailoverMark(const std::string& folder, const std::string& serial)
{
    if (!IsValidSerial(serial.c_str()) || !UsableFolder(folder, false))
        return true;
    return unlink((folder + "/" + serial).c_str()) == 0 || errno == ENOENT;
}

}  // namespace vantora_exchange
