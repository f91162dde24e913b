#include "Emulator.h"

#include "UsbDevice.h"

#include <glib/gstdio.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace rt50emu {

struct Emulator::Printer {
    std::string serial;
    int port = 0;                       // position on the emulated hub, 1..
    std::shared_ptr<PrinterModel> model;
    std::unique_ptr<UsbDevice> usb;     // present while plugged in
    std::string syspath;
    std::string devnode;
    int devnum = 0;
};

namespace {

bool ValidSerial(const std::string& serial)
{
    if (serial.empty() || serial.size() > 32)
        return false;
    for (char c : serial) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

// A whole decimal number within [low, high].
bool ParseNumber(const std::string& text, long low, long high, long* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || number < low || number > high)
        return false;
    *value = number;
    return true;
}

// The text after the first `skip` words of a line, without outer blanks.
std::string RestOfLine(const std::string& line, int skip)
{
    size_t at = 0;
    for (int word = 0; word < skip; ++word) {
        at = line.find_first_not_of(" \t", at);
        at = line.find_first_of(" \t", at);
        if (at == std::string::npos)
            return std::string();
    }
    const size_t first = line.find_first_not_of(" \t", at);
    const size_t last = line.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

bool Printable(const std::string& text)
{
    for (char c : text) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

// A serial number as the control text gives it: "\xHH" stands for the byte
// HH (a hostile printer may report any byte, NUL included). False for a
// broken escape.
bool DecodeSerialText(const std::string& text, std::string* serial)
{
    serial->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") != 0) {
            serial->push_back(text[i]);
            continue;
        }
        if (i + 4 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 2])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 3])))
            return false;
        serial->push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
        i += 3;
    }
    return true;
}

// The reverse, for show: bytes outside printable ASCII, and the backslash,
// as "\xHH".
std::string EncodeSerialText(const std::string& serial)
{
    std::string text;
    for (char c : serial) {
        if (c >= 0x20 && c <= 0x7e && c != '\\') {
            text.push_back(c);
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
        text += escape;
    }
    return text;
}

std::string FaultText(const Fault& fault)
{
    const char* name = "none";
    switch (fault.kind) {
    case FaultKind::None: return "none";
    case FaultKind::NoAnswer: name = "noanswer"; break;
    case FaultKind::BadHeader: name = "badheader"; break;
    case FaultKind::BadLength: name = "badlength"; break;
    case FaultKind::Slow: name = "slow"; break;
    case FaultKind::StallIn: name = "stall in"; break;
    case FaultKind::StallOut: name = "stall out"; break;
    case FaultKind::SplitReply: name = "splitreply"; break;
    case FaultKind::StallWrite: name = "stallwrite"; break;
    case FaultKind::UnplugAfter: name = "unplugafter"; break;
    case FaultKind::ErrorAfterStart: name = "afterstart"; break;
    }
    std::string text = name;
    if (fault.kind == FaultKind::BadLength || fault.kind == FaultKind::Slow ||
        fault.kind == FaultKind::UnplugAfter || fault.kind == FaultKind::ErrorAfterStart)
        text += " " + std::to_string(fault.value);
    return text + " " + std::to_string(fault.times);
}

}  // namespace

Emulator::Emulator(const EmulatorOptions& options) : m_options(options)
{
    if (!m_options.outputFolder.empty())
        g_mkdir_with_parents(m_options.outputFolder.c_str(), 0755);
    m_testbed = umockdev_testbed_new();
    m_departureThread = std::thread(&Emulator::RunDepartures, this);
}

Emulator::~Emulator()
{
    {
        std::lock_guard<std::mutex> queue(m_departureMutex);
        m_stopping = true;
    }
    m_departureWake.notify_all();
    m_departureThread.join();
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // The testbed's worker thread calls into the devices: stop it first.
    g_object_unref(m_testbed);
    m_testbed = nullptr;
    m_printers.clear();
    m_retired.clear();
}

std::string Emulator::RootDir() const
{
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    std::string dir = root;
    g_free(root);
    return dir;
}

Emulator::Printer* Emulator::Find(const std::string& serial) const
{
    for (const auto& printer : m_printers) {
        if (printer->serial == serial)
            return printer.get();
    }
    return nullptr;
}

bool Emulator::AddPrinter(const std::string& serial, std::string* error)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::string problem;
    if (!ValidSerial(serial))
        problem = "a serial number is 1 to 32 letters, digits, '-' or '_'";
    else if (Find(serial) != nullptr)
        problem = "printer " + serial + " exists";
    else if (m_printers.size() >= 100)
        problem = "too many printers";
    if (!problem.empty()) {
        if (error != nullptr)
            *error = problem;
        return false;
    }
    auto printer = std::make_unique<Printer>();
    printer->serial = serial;
    printer->port = static_cast<int>(m_printers.size()) + 1;
    printer->model = std::make_shared<PrinterModel>();
    const int printMs = m_options.printMs;
    const long rate = m_options.rate;
    printer->model->Update([&](EmulatedState& s) {
        s.serial = serial;
        s.printMs = printMs;
        s.rate = rate;
    });
    m_printers.push_back(std::move(printer));
    return PlugLocked(*m_printers.back());
}

bool Emulator::Plug(const std::string& serial)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Printer* printer = Find(serial);
    return printer != nullptr && PlugLocked(*printer);
}

bool Emulator::Unplug(const std::string& serial)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Printer* printer = Find(serial);
    return printer != nullptr && UnplugLocked(*printer);
}

int Emulator::NextDevnum()
{
    // Every arrival gets the next device number, as on a real bus, passing
    // over those of the printers still plugged in.
    const int last = std::min(std::max(m_options.lastDevnum, 2), 127);
    for (int tries = 2; tries <= last; ++tries) {
        const int candidate = m_nextDevnum > last ? 2 : m_nextDevnum;
        m_nextDevnum = candidate >= last ? 2 : candidate + 1;
        bool used = false;
        for (const auto& other : m_printers)
            used = used || (other->usb && other->devnum == candidate);
        if (!used)
            return candidate;
    }
    return 0;
}

void Emulator::RequestUnplug(UsbDevice* device)
{
    {
        std::lock_guard<std::mutex> queue(m_departureMutex);
        m_departures.push_back(device);
    }
    m_departureWake.notify_all();
}

void Emulator::RunDepartures()
{
    std::unique_lock<std::mutex> queue(m_departureMutex);
    for (;;) {
        m_departureWake.wait(queue, [this] { return m_stopping || !m_departures.empty(); });
        if (m_stopping)
            return;
        std::vector<UsbDevice*> devices;
        devices.swap(m_departures);
        queue.unlock();
        {
            std::lock_guard<std::recursive_mutex> lock(m_mutex);
            // A printer plugged in again meanwhile has another device.
            for (UsbDevice* device : devices) {
                for (const auto& printer : m_printers) {
                    if (printer->usb.get() == device)
                        UnplugLocked(*printer);
                }
            }
        }
        queue.lock();
    }
}

void Emulator::PruneEventSockets()
{
    // A client that ended leaves its event socket behind: nobody reads it
    // any more, and the next events would be sent to it in vain.
    const std::string root = RootDir();
    GDir* dir = g_dir_open(root.c_str(), 0, nullptr);
    if (dir == nullptr)
        return;
    while (const gchar* name = g_dir_read_name(dir)) {
        if (std::strncmp(name, "event", 5) != 0 || name[5] < '0' || name[5] > '9')
            continue;
        const std::string path = root + "/" + name;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            continue;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (probe < 0)
            continue;
        if (connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == ECONNREFUSED)
            g_unlink(path.c_str());
        close(probe);
    }
    g_dir_close(dir);
}

bool Emulator::PlugLocked(Printer& printer)
{
    PruneEventSockets();
    if (printer.usb)
        return false;
    printer.devnum = NextDevnum();
    if (printer.devnum == 0)
        return false;
    char name[16], devnode[64], busnum[8], devnum[8], dev[16];
    std::snprintf(name, sizeof name, "1-%d", printer.port);
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03d", printer.devnum);
    // sysfs attributes end with a line feed, as the kernel writes them; "dev"
    // gives the character device number (USB devices have major 189).
    std::snprintf(busnum, sizeof busnum, "%d\n", 1);
    std::snprintf(devnum, sizeof devnum, "%d\n", printer.devnum);
    std::snprintf(dev, sizeof dev, "189:%d", printer.devnum - 1);
    char product[32];
    std::snprintf(product, sizeof product, "%x/%x/100", kVendorId, kProductId);

    const std::string productName = printer.model->State(Clock::now()).product;
    printer.model->ResetStream();   // a printer that just powered up has no half-received command
    printer.usb = std::make_unique<UsbDevice>(printer.model, m_options.outputFolder);
    UsbDevice* device = printer.usb.get();
    device->SetDepartureHandler([this, device] { RequestUnplug(device); });
    // The binary "descriptors" attribute has to be there when the "add"
    // event goes out with the device, so it is written first.
    const std::string sysFolder = RootDir() + "/sys/devices/" + name;
    g_mkdir_with_parents(sysFolder.c_str(), 0755);
    const std::string descriptors = DescriptorBytes();
    g_file_set_contents((sysFolder + "/descriptors").c_str(), descriptors.data(),
                        static_cast<gssize>(descriptors.size()), nullptr);
    // The testbed does not make the node itself (DeviceNode.h).
    const std::string nodeFile = RootDir() + devnode;
    gchar* nodeFolder = g_path_get_dirname(nodeFile.c_str());
    g_mkdir_with_parents(nodeFolder, 0755);
    g_free(nodeFolder);
    if (!printer.usb->CreateNode(nodeFile, m_options.quietNodes)) {
        std::fprintf(stderr, "rt50-emulator: cannot make %s\n", nodeFile.c_str());
        printer.usb.reset();
        return false;
    }
    // A device number used again drops the handler of its earlier device.
    if (m_attached.erase(devnode) > 0)
        umockdev_testbed_detach_ioctl(m_testbed, devnode, nullptr);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, devnode, printer.usb->Handler(), &error)) {
        std::fprintf(stderr, "rt50-emulator: cannot attach to %s: %s\n", devnode,
                     error != nullptr ? error->message : "?");
        if (error != nullptr)
            g_error_free(error);
        printer.usb.reset();
        return false;
    }
    m_attached.insert(devnode);
    gchar* syspath = umockdev_testbed_add_device(
        m_testbed, "usb", name, nullptr,
        "dev", dev, "busnum", busnum, "devnum", devnum, "speed", "480\n",
        "bConfigurationValue", "1\n",
        "bNumConfigurations", "1", "bNumInterfaces", " 1", "idVendor", "3a7f",
        "idProduct", "000c", "bcdDevice", "0100", "manufacturer", kManufacturer,
        "product", productName.c_str(), "serial", printer.serial.c_str(), nullptr,
        "DEVNAME", devnode, "DEVTYPE", "usb_device", "PRODUCT", product, "BUSNUM", "001",
        "DEVNUM", devnode + 17, "DRIVER", "usb", nullptr);
    if (syspath == nullptr) {
        umockdev_testbed_detach_ioctl(m_testbed, devnode, nullptr);
        m_attached.erase(devnode);
        printer.usb.reset();
        return false;
    }
    printer.syspath = syspath;
    printer.devnode = devnode;
    g_free(syspath);
    return true;
}

bool Emulator::UnplugLocked(Printer& printer)
{
    if (!printer.usb)
        return false;
    // As the kernel does: transfers in flight fail, the removal is
    // announced, then the device disappears from sysfs.
    printer.usb->Unplug();
    PruneEventSockets();
    umockdev_testbed_uevent(m_testbed, printer.syspath.c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, printer.syspath.c_str());
    g_unlink((RootDir() + printer.devnode).c_str());
    m_retired.push_back(std::move(printer.usb));
    return true;
}

std::shared_ptr<PrinterModel> Emulator::Model(const std::string& serial) const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Printer* printer = Find(serial);
    return printer != nullptr ? printer->model : nullptr;
}

std::vector<std::string> Emulator::Serials() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<std::string> serials;
    for (const auto& printer : m_printers)
        serials.push_back(printer->serial);
    return serials;
}

bool Emulator::QuitRequested() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_quit;
}

std::string Emulator::Show(Printer& printer)
{
    const EmulatedState s = printer.model->State(Clock::now());
    std::ostringstream out;
    out << "serial=" << s.serial << "\n"
        << "serialno=" << EncodeSerialText(s.reportedSerial.empty() ? s.serial : s.reportedSerial) << "\n"
        << "plugged=" << (printer.usb ? 1 : 0) << "\n"
        << "devnode=" << (printer.usb ? printer.devnode : std::string()) << "\n"
        << "status=" << s.status << "\n"
        << "media=" << s.mediaSize << "\n"
        << "class=" << s.mediaClass << "\n"
        << "initial=" << s.mediaInitial << "\n"
        << "remain=" << s.mediaRemain << "\n"
        << "firmware=" << s.firmware << "\n"
        << "counter=" << s.counter << "\n"
        << "printms=" << s.printMs << "\n"
        << "driver=" << (s.driverBound ? 1 : 0) << "\n"
        << "product=" << s.product << "\n"
        << "deviceid=" << printer.model->DeviceId() << "\n"
        << "idorder=" << (s.deviceIdLittleEndian ? "le" : "be") << "\n"
        << "fault=" << FaultText(printer.model->CurrentFault()) << "\n"
        << "printed=" << printer.model->SheetsPrinted() << "\n"
        << "errors=" << printer.model->FramingErrors() << "\n"
        << "lasterror=" << printer.model->LastError() << "\n"
        << "stream=" << printer.model->StreamState() << "\n"
        << "rate=" << s.rate << "\n"
        << "wake=" << s.wakeMs << "\n"
        << "buffer=" << s.bufferSize << "\n";
    // What the host did since the plug.
    const UsbDevice::Traffic traffic = printer.usb ? printer.usb->GetTraffic() : UsbDevice::Traffic();
    const char* node = "none";
    switch (traffic.node) {
    case DeviceNode::Kind::None: break;
    case DeviceNode::Kind::Pty: node = "pty"; break;
    case DeviceNode::Kind::Fifo: node = "fifo"; break;
    case DeviceNode::Kind::File: node = "file"; break;
    }
    out << "buffered=" << traffic.buffered << "\n"
        << "halted=" << (traffic.haltedIn ? traffic.haltedOut ? "in,out" : "in" : traffic.haltedOut ? "out" : "")
        << "\n"
        << "outcount=" << traffic.outTransfers << "\n"
        << "outsizes=";
    for (size_t i = 0; i < traffic.outSizes.size(); ++i)
        out << (i > 0 ? "," : "") << traffic.outSizes[i];
    out << "\n"
        << "node=" << node << "\n";
    return out.str();
}

std::string Emulator::Execute(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word && words.size() < 8;)
        words.push_back(word);
    if (words.empty())
        return "ERR empty command\n";
    const std::string& verb = words[0];

    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (verb == "help") {
        return "list | add SERIAL | plug SERIAL | unplug SERIAL | replug SERIAL | show SERIAL\n"
               "set SERIAL status|media|class|initial|remain|firmware|counter|printms|driver|idorder|rate|buffer|wake VALUE\n"
               "set SERIAL product|deviceid|serialno TEXT...\n"
               "fault SERIAL clear|noanswer|badheader|badlength LEN|slow MS|stall in|stall out|splitreply|stallwrite [TIMES]\n"
               "fault SERIAL unplugafter BYTES | afterstart STATUS [TIMES]\n"
               "quit\nOK\n";
    }
    if (verb == "list") {
        std::string reply;
        for (const auto& printer : m_printers)
            reply += printer->serial + (printer->usb ? " plugged " + printer->devnode : " unplugged") + "\n";
        return reply + "OK\n";
    }
    if (verb == "quit") {
        m_quit = true;
        return "OK\n";
    }
    if (words.size() < 2)
        return "ERR " + verb + " needs a serial number\n";
    if (verb == "add") {
        std::string error;
        return AddPrinter(words[1], &error) ? "OK\n" : "ERR " + error + "\n";
    }
    Printer* printer = Find(words[1]);
    if (printer == nullptr)
        return "ERR no printer " + words[1] + "\n";
    if (verb == "plug")
        return PlugLocked(*printer) ? "OK\n" : "ERR already plugged\n";
    if (verb == "unplug")
        return UnplugLocked(*printer) ? "OK\n" : "ERR not plugged\n";
    if (verb == "replug") {
        UnplugLocked(*printer);
        return PlugLocked(*printer) ? "OK\n" : "ERR cannot plug\n";
    }
    if (verb == "show")
        return Show(*printer) + "OK\n";
    if (verb == "set") {
        // "set SERIAL deviceid" (serialno) alone restores the printer's own
        // device ID (serial number).
        const bool textKey =
            words.size() >= 3 && (words[2] == "product" || words[2] == "deviceid" || words[2] == "serialno");
        if (words.size() < 3 || (words.size() != 4 && !textKey) || (words[2] == "product" && words.size() < 4))
            return "ERR usage: set SERIAL KEY VALUE\n";
        const std::string& key = words[2];
        const std::string text = words.size() > 3 ? words[3] : std::string();
        long value = 0;
        if (textKey) {
            // Text values run to the end of the line and may hold blanks.
            std::string whole = RestOfLine(line, 3);
            if (whole.size() > (key == "product" ? 126u : 1000u) || !Printable(whole))
                return "ERR " + key + " must be printable text of at most " +
                       (key == "product" ? "126" : "1000") + " characters\n";
            if (key == "serialno" && !DecodeSerialText(std::string(whole), &whole))
                return "ERR serialno: \\x needs two hex digits\n";
            printer->model->Update([&](EmulatedState& s) {
                (key == "product" ? s.product : key == "deviceid" ? s.deviceId : s.reportedSerial) = whole;
            });
            return "OK\n";
        }
        if (key == "idorder") {
            if (text != "le" && text != "be")
                return "ERR idorder is le or be\n";
            printer->model->Update([&](EmulatedState& s) { s.deviceIdLittleEndian = text == "le"; });
            return "OK\n";
        }
        if (key == "firmware") {
            if (text.size() > 32)
                return "ERR firmware text too long\n";
            printer->model->Update([&](EmulatedState& s) { s.firmware = text; });
            return "OK\n";
        }
        if (!ParseNumber(text, 0, 99999999, &value))
            return "ERR value must be a number from 0 to 99999999\n";
        const int number = static_cast<int>(value);
        if (key == "status")
            printer->model->Update([&](EmulatedState& s) { s.status = value; });
        else if (key == "media")
            printer->model->Update([&](EmulatedState& s) { s.mediaSize = number % 1000; });
        else if (key == "class")
            printer->model->Update([&](EmulatedState& s) { s.mediaClass = number; });
        else if (key == "initial")
            printer->model->Update([&](EmulatedState& s) { s.mediaInitial = number; });
        else if (key == "remain")
            printer->model->Update([&](EmulatedState& s) { s.mediaRemain = number; });
        else if (key == "counter")
            printer->model->Update([&](EmulatedState& s) { s.counter = value; });
        else if (key == "printms")
            printer->model->Update([&](EmulatedState& s) { s.printMs = number; });
        else if (key == "driver")
            printer->model->Update([&](EmulatedState& s) { s.driverBound = value != 0; });
        else if (key == "rate")
            printer->model->Update([&](EmulatedState& s) { s.rate = value; });
        else if (key == "buffer")
            printer->model->Update([&](EmulatedState& s) { s.bufferSize = value; });
        else if (key == "wake")
            printer->model->Update([&](EmulatedState& s) { s.wakeMs = number; });
        else
            return "ERR unknown key " + key + "\n";
        return "OK\n";
    }
    if (verb == "fault") {
        if (words.size() < 3)
            return "ERR usage: fault SERIAL KIND [VALUE] [TIMES]\n";
        Fault fault;
        const std::string& kind = words[2];
        size_t next = 3;
        long value = 0;
        if (kind == "clear") {
            printer->model->SetFault(Fault());
            return "OK\n";
        } else if (kind == "noanswer") {
            fault.kind = FaultKind::NoAnswer;
        } else if (kind == "badheader") {
            fault.kind = FaultKind::BadHeader;
        } else if (kind == "splitreply") {
            fault.kind = FaultKind::SplitReply;
        } else if (kind == "stallwrite") {
            fault.kind = FaultKind::StallWrite;
        } else if (kind == "badlength" || kind == "slow" || kind == "unplugafter" || kind == "afterstart") {
            fault.kind = kind == "slow"          ? FaultKind::Slow
                       : kind == "unplugafter" ? FaultKind::UnplugAfter
                       : kind == "afterstart"  ? FaultKind::ErrorAfterStart
                                               : FaultKind::BadLength;
            if (words.size() < 4 || !ParseNumber(words[3], 0, 99999999, &value))
                return "ERR " + kind + " needs a number\n";
            fault.value = static_cast<int>(value);
            next = 4;
        } else if (kind == "stall") {
            if (words.size() < 4 || (words[3] != "in" && words[3] != "out"))
                return "ERR stall needs in or out\n";
            fault.kind = words[3] == "in" ? FaultKind::StallIn : FaultKind::StallOut;
            next = 4;
        } else {
            return "ERR unknown fault " + kind + "\n";
        }
        if (words.size() > next) {
            if (!ParseNumber(words[next], 0, 1000000, &value))
                return "ERR times must be a number (0: until cleared)\n";
            fault.times = static_cast<int>(value);
        }
        printer->model->SetFault(fault);
        return "OK\n";
    }
    return "ERR unknown command " + verb + "\n";
}

}  // namespace rt50emu
