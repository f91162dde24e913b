// A file in a shared, world-writable folder (/tmp) that marks something for
// other programs: created exclusively, never through a symbolic link and
// never over someone else's file, and removed only while the name still
// leads to the very file this process created.
#pragma once

#include <string>
#include <sys/types.h>

namespace vantora_exchange {

class OwnedFile {
public:
    enum Result {
        kCreated,   // the file is ours now
        kExists,    // the name is taken by a file (or link) that is not ours: left alone
        kFailed,    // could not create it (errno tells why)
    };

    OwnedFile() = default;
    ~OwnedFile() { Remove(); }
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;

    // Creates `path` with O_CREAT | O_EXCL | O_NOFOLLOW, mode 0644, holding
    // this process's id and a line feed. A left-over marker (JudgeMarker) is
    // replaced. Creating again while the file
    // is ours returns kCreated at once.
    Result Create(const std::string& path);

    // True while this object owns a file.
    bool owned() const { return m_owned; }
    const std::string& path() const { return m_path; }

    // Removes the file when the name still leads to the regular file this
    // object created (same device and inode; the file is kept open, so its
    // inode cannot pass to a file put in its place); any other file is left
    // alone. True when the file is gone or was never ours.
    bool Remove();

private:
    std::string m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    int m_fd = -1;
    bool m_owned = false;
};

// What a marker file (a backend's pause or job start file) at a name is.
// A marker is a regular file with one link, owned by root (the backend, as
// CUPS runs it) or by this process's user (the same in service), holding
// nothing but a process id and a line feed.
enum MarkerState {
    kMarkerAbsent,    // nothing has the name
    kMarkerLive,      // a marker whose process runs
    kMarkerLeftOver,  // a marker whose process is gone: a killed backend left it
    kMarkerForeign,   // anything else: another user's file, a link, a folder, other contents
};
MarkerState JudgeMarker(const std::string& path);

// Removes `path` when it is a left-over marker, and only while the name
// still leads to the file judged. True when it removed it.
bool RemoveLeftOverMarker(const std::string& path);

}  // namespace vantora_exchange
