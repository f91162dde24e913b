#include "UsbDevice.h"

#include "SheetRecorder.h"

#include <umockdev.h>

#include <gio/gio.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

namespace rt50emu {

const char kManufacturer[] = "VANTORA";

namespace {

constexpr uint8_t kEndpointOut = 0x01;
constexpr uint8_t kEndpointIn = 0x82;
constexpr int kMaxTransfer = 64 * 1024 * 1024;
constexpr char kDriverName[] = "usblp";
// While the receive buffer is full, the printer looks for room this often.
constexpr auto kFullBufferPoll = std::chrono::milliseconds(10);

// What the emulated usbdevfs can do: one libusb transfer is one URB.
constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

const uint8_t kDeviceDescriptor[18] = {
    18, 1, 0x00, 0x02,          // bLength, DEVICE, bcdUSB 2.00
    0, 0, 0, 64,                // class per interface, EP0 packet size 64
    kVendorId & 0xff, kVendorId >> 8, kProductId & 0xff, kProductId >> 8,
    0x00, 0x01,                 // bcdDevice 1.00
    1, 2, 3,                    // manufacturer, product, serial strings
    1,                          // one configuration
};

const uint8_t kConfiguration[32] = {
    9, 2, 32, 0, 1, 1, 0, 0xC0, 50,           // 1 interface, value 1, self powered
    9, 4, 0, 0, 2, 7, 1, 2, 0,                // interface 0: printer, bidirectional
    7, 5, kEndpointOut, 2, 0x00, 0x02, 0,     // bulk OUT, 512 bytes
    7, 5, kEndpointIn, 2, 0x00, 0x02, 0,      // bulk IN, 512 bytes
};

// A string descriptor: the text as UTF-16LE behind its two header bytes.
std::string StringDescriptor(const std::string& text)
{
    const size_t chars = std::min<size_t>(text.size(), 126);
    std::string bytes;
    bytes.push_back(static_cast<char>(2 + 2 * chars));
    bytes.push_back(3);
    for (size_t i = 0; i < chars; ++i) {
        bytes.push_back(text[i]);
        bytes.push_back(0);
    }
    return bytes;
}

// Resolves the ioctl argument as a pointer to `size` bytes of the client.
UMockdevIoctlData* Resolve(UMockdevIoctlData* data, size_t offset, size_t size)
{
    GError* error = nullptr;
    UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, size, &error);
    if (error != nullptr)
        g_error_free(error);
    return child;
}

// Whether the program behind `client` has closed its end of umockdev's
// socket, that is has ended. umockdev 0.17 marks a client as gone only when
// it reads the end of its next request; a program that dies in the middle
// of a request leaves it waiting for good (the answer cannot be written
// back), so the client would keep its claim forever, where the kernel
// drops a dead program's claim and transfers at once. The client's fields
// begin with its handler and its stream (umockdev-ioctl.vala); the handler
// check keeps another layout from being read.
bool ClientSocketClosed(UMockdevIoctlBase* handler, UMockdevIoctlClient* client)
{
    struct ClientFields {
        UMockdevIoctlBase* handler;
        GIOStream* stream;
    };
    const auto* fields = reinterpret_cast<const ClientFields*>(client->priv);
    if (fields == nullptr || fields->handler != handler || !G_IS_SOCKET_CONNECTION(fields->stream))
        return false;
    GSocket* socket = g_socket_connection_get_socket(G_SOCKET_CONNECTION(fields->stream));
    pollfd peer{g_socket_get_fd(socket), POLLRDHUP, 0};
    if (peer.fd < 0 || poll(&peer, 1, 0) != 1)
        return false;
    return (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace

std::string DescriptorBytes()
{
    std::string bytes(reinterpret_cast<const char*>(kDeviceDescriptor), sizeof kDeviceDescriptor);
    bytes.append(reinterpret_cast<const char*>(kConfiguration), sizeof kConfiguration);
    return bytes;
}

UsbDevice::UsbDevice(std::shared_ptr<PrinterModel> model, std::string outputFolder)
    : m_model(std::move(model)), m_outputFolder(std::move(outputFolder))
{
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&UsbDevice::OnIoctl), this);
    g_signal_connect(m_handler, "client-vanished", G_CALLBACK(&UsbDevice::OnVanished), this);

}

UsbDevice::~UsbDevice()
{
    g_signal_handlers_disconnect_by_data(m_handler, this);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_timer != nullptr) {
        g_source_destroy(m_timer);
        g_source_unref(m_timer);
    }
    if (m_context != nullptr)
        g_main_context_unref(m_context);
    for (Urb& urb : m_urbs)
        Release(urb);
    m_urbs.clear();
    for (auto& entry : m_clients)
        g_object_unref(entry.first);
    m_clients.clear();
    g_object_unref(m_handler);
}

void UsbDevice::Release(Urb& urb)
{
    if (urb.buffer != nullptr)
        g_object_unref(urb.buffer);
    if (urb.data != nullptr)
        g_object_unref(urb.data);
    if (urb.client != nullptr)
        g_object_unref(urb.client);
    urb = Urb();
}

UsbDevice::ClientState& UsbDevice::StateOf(UMockdevIoctlClient* client)
{
    auto it = m_clients.find(client);
    if (it == m_clients.end()) {
        g_object_ref(client);
        it = m_clients.emplace(client, ClientState()).first;
    }
    return it->second;
}

int UsbDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    UsbDevice* device = static_cast<UsbDevice*>(self);
    int error = 0;
    long result;
    {
        std::lock_guard<std::mutex> lock(device->m_mutex);
        if (device->m_context == nullptr)
            device->m_context = g_main_context_ref_thread_default();
        device->Prune();
        result = device->Ioctl(client, umockdev_ioctl_client_get_request(client), &error);
        device->UpdateFlow();
    }
    umockdev_ioctl_client_complete(client, result, result < 0 ? error : 0);
    return TRUE;
}

void UsbDevice::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    UsbDevice* device = static_cast<UsbDevice*>(self);
    std::lock_guard<std::mutex> lock(device->m_mutex);
    device->Forget(client);
    device->UpdateFlow();
}

void UsbDevice::Forget(UMockdevIoctlClient* client)
{
    for (auto it = m_urbs.begin(); it != m_urbs.end();) {
        if (it->client == client) {
            Release(*it);
            it = m_urbs.erase(it);
        } else {
            ++it;
        }
    }
    auto state = m_clients.find(client);
    if (state != m_clients.end()) {
        g_object_unref(state->first);
        m_clients.erase(state);
    }
}

void UsbDevice::Prune()
{
    // A client whose program closed the node or died loses its claim and
    // its transfers (umockdev does not announce it in this version).
    const auto ended = [this](UMockdevIoctlClient* client) {
        return !umockdev_ioctl_client_get_connected(client) || ClientSocketClosed(m_handler, client);
    };
    std::vector<UMockdevIoctlClient*> gone;
    for (const auto& entry : m_clients) {
        if (ended(entry.first))
            gone.push_back(entry.first);
    }
    for (const Urb& urb : m_urbs) {
        if (std::find(gone.begin(), gone.end(), urb.client) == gone.end() && ended(urb.client))
            gone.push_back(urb.client);
    }
    for (UMockdevIoctlClient* client : gone)
        Forget(client);
}

bool UsbDevice::CreateNode(const std::string& path, bool quiet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_node.Create(path, quiet))
        return false;
    UpdateFlow();
    return true;
}

void UsbDevice::SetDepartureHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_departed = std::move(handler);
}

void UsbDevice::UpdateFlow()
{
    Prune();
    const Clock::time_point now = Clock::now();
    Clock::time_point wake = PumpOut(now);
    bool finished = false;
    for (Urb& urb : m_urbs) {
        TryFinishRead(urb);
        finished = finished || urb.done;
        if (!urb.done && urb.endpoint == kEndpointIn) {
            const Clock::time_point ready = m_model->ReplyReadyAt();
            if (ready > now)
                wake = std::min(wake, ready);
        }
    }
    if (wake != Clock::time_point::max())
        WakeAt(wake);
    m_node.SetReady(finished);
}

size_t UsbDevice::BufferedBytes()
{
    const int printed = m_model->SheetsPrinted();
    size_t bytes = m_model->ReceivingBytes();
    while (!m_held.empty() && m_held.front().number <= printed)
        m_held.pop_front();
    for (const HeldSheet& sheet : m_held)
        bytes += sheet.bytes;
    return bytes;
}

void UsbDevice::CollectSheets()
{
    for (const Sheet& sheet : m_model->TakeSheets()) {
        HeldSheet held;
        held.number = sheet.number;
        for (const std::vector<uint8_t>& plane : sheet.planes)
            held.bytes += plane.size();
        m_held.push_back(held);
        if (m_outputFolder.empty())
            continue;
        const std::string problem = RecordSheet(m_outputFolder, sheet);
        if (!problem.empty())
            std::fprintf(stderr, "rt50-emulator: %s\n", problem.c_str());
    }
}

Clock::time_point UsbDevice::PumpOut(Clock::time_point now)
{
    Clock::time_point wake = Clock::time_point::max();
    if (m_gone)
        return wake;
    // State() also lets the printer finish the sheets that are due, which
    // frees their room in the buffer.
    const EmulatedState state = m_model->State(now);
    const double burst = std::max(512.0, static_cast<double>(state.rate) / 500.0);   // 2 ms
    if (state.rate > 0) {
        const double seconds = std::chrono::duration<double>(now - m_creditAt).count();
        m_credit = std::min(burst, m_credit + std::max(0.0, seconds) * static_cast<double>(state.rate));
    }
    m_creditAt = now;
    for (Urb& urb : m_urbs) {
        if (urb.done || urb.endpoint != kEndpointOut)
            continue;
        // A transfer the printer never takes blocks the endpoint until the
        // host gives up on it.
        if (urb.hung)
            break;
        int budget = 0;
        if (m_unplugBudget < 0 && m_model->TakeFault(FaultKind::UnplugAfter, &budget))
            m_unplugBudget = budget;
        const size_t length = urb.buffer != nullptr ? static_cast<size_t>(urb.buffer->data_len) : 0;
        const size_t remaining = length - static_cast<size_t>(urb.actual);
        const size_t buffered = BufferedBytes();
        const size_t capacity = static_cast<size_t>(state.bufferSize);
        const size_t room = state.bufferSize <= 0 ? remaining : capacity > buffered ? capacity - buffered : 0;
        size_t take = std::min(remaining, room);
        if (state.rate > 0)
            take = std::min(take, static_cast<size_t>(m_credit));
        if (m_unplugBudget >= 0)
            take = std::min(take, static_cast<size_t>(m_unplugBudget));
        if (take > 0) {
            m_model->Write(urb.buffer->data + urb.actual, take, now);
            urb.actual += static_cast<int>(take);
            m_credit -= static_cast<double>(take);
            if (m_unplugBudget >= 0)
                m_unplugBudget -= static_cast<long>(take);
            CollectSheets();
        }
        if (m_unplugBudget == 0) {
            End();
            if (m_departed)
                m_departed();
            return Clock::time_point::max();
        }
        if (take == remaining) {
            urb.done = true;
            continue;
        }
        if (room <= take || state.rate <= 0) {
            wake = now + kFullBufferPoll;
        } else {
            const double wanted = std::min(static_cast<double>(remaining - take), burst) - m_credit;
            wake = now + std::chrono::microseconds(static_cast<long long>(
                             std::ceil(std::max(1.0, wanted) * 1e6 / static_cast<double>(state.rate))));
        }
        break;
    }
    return wake;
}

void UsbDevice::WakeAt(Clock::time_point when)
{
    if (m_context == nullptr || (m_timer != nullptr && m_timerAt <= when))
        return;
    if (m_timer != nullptr) {
        g_source_destroy(m_timer);
        g_source_unref(m_timer);
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    m_timer = g_timeout_source_new(static_cast<guint>(std::max<long long>(1, ms + 1)));
    m_timerAt = when;
    g_source_set_callback(m_timer, &UsbDevice::OnTimer, this, nullptr);
    g_source_attach(m_timer, m_context);
}

int UsbDevice::OnTimer(void* self)
{
    UsbDevice* device = static_cast<UsbDevice*>(self);
    std::lock_guard<std::mutex> lock(device->m_mutex);
    g_source_unref(device->m_timer);
    device->m_timer = nullptr;
    device->UpdateFlow();
    return G_SOURCE_REMOVE;
}

void UsbDevice::Unplug()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    End();
    UpdateFlow();
}

void UsbDevice::End()
{
    if (!m_gone) {
        m_gone = true;
        for (Urb& urb : m_urbs) {
            if (!urb.done) {
                urb.done = true;
                urb.status = -ESHUTDOWN;
            }
        }
    }
    // A hung-up node tells the clients at once; any other node polls ready
    // until they have reaped the ended transfers and then lets them sleep
    // (UpdateFlow).
    m_node.HangUp();
}

size_t UsbDevice::PendingUrbs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_urbs.size();
}

UsbDevice::Traffic UsbDevice::GetTraffic()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Traffic traffic;
    traffic.outTransfers = m_outTransfers;
    traffic.outSizes.assign(m_outSizes.begin(), m_outSizes.end());
    traffic.haltedOut = m_halted[kOut];
    traffic.haltedIn = m_halted[kIn];
    traffic.buffered = BufferedBytes();
    traffic.node = m_node.kind();
    return traffic;
}

long UsbDevice::Ioctl(UMockdevIoctlClient* client, unsigned long request, int* error)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB)
        return Reap(client, arg, error);
    if (m_gone) {
        *error = ENODEV;
        return -1;
    }
    switch (request) {
    case USBDEVFS_SUBMITURB:
        return Submit(client, arg, error);
    case USBDEVFS_DISCARDURB:
        return Discard(client, arg, error);
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = Resolve(arg, 0, sizeof(uint32_t));
        if (caps == nullptr)
            break;
        std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
        g_object_unref(caps);
        return 0;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData* data = Resolve(arg, 0, sizeof(usbdevfs_getdriver));
        if (data == nullptr)
            break;
        auto* query = reinterpret_cast<usbdevfs_getdriver*>(data->data);
        const bool bound = query->interface == 0 && m_model->State(Clock::now()).driverBound;
        if (bound)
            std::snprintf(query->driver, sizeof query->driver, "%s", kDriverName);
        g_object_unref(data);
        if (!bound) {
            *error = ENODATA;
            return -1;
        }
        return 0;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData* data = Resolve(arg, 0, sizeof(usbdevfs_ioctl));
        if (data == nullptr)
            break;
        const usbdevfs_ioctl command = *reinterpret_cast<usbdevfs_ioctl*>(data->data);
        g_object_unref(data);
        if (command.ifno != 0) {
            *error = EINVAL;
            return -1;
        }
        bool bound = m_model->State(Clock::now()).driverBound;
        if (command.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            if (!bound) {
                *error = ENODATA;
                return -1;
            }
            m_model->Update([](EmulatedState& s) { s.driverBound = false; });
            return 0;
        }
        if (command.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            for (const auto& entry : m_clients) {
                if (entry.second.claimed) {
                    *error = EBUSY;
                    return -1;
                }
            }
            m_model->Update([](EmulatedState& s) { s.driverBound = true; });
            return 1;   // as the kernel: positive when a driver was bound
        }
        *error = ENOTTY;
        return -1;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* data = Resolve(arg, 0, sizeof(unsigned int));
        if (data == nullptr)
            break;
        const unsigned int number = *reinterpret_cast<unsigned int*>(data->data);
        g_object_unref(data);
        if (number != 0) {
            *error = request == USBDEVFS_CLAIMINTERFACE ? ENOENT : EINVAL;
            return -1;
        }
        ClientState& state = StateOf(client);
        if (request == USBDEVFS_RELEASEINTERFACE) {
            if (!state.claimed) {
                *error = EINVAL;
                return -1;
            }
            state.claimed = false;
            return 0;
        }
        if (state.claimed)
            return 0;
        bool taken = m_model->State(Clock::now()).driverBound;
        for (const auto& entry : m_clients)
            taken = taken || entry.second.claimed;
        if (taken) {
            *error = EBUSY;
            return -1;
        }
        state.claimed = true;
        return 0;
    }
    case USBDEVFS_CLEAR_HALT: {
        UMockdevIoctlData* data = Resolve(arg, 0, sizeof(unsigned int));
        if (data == nullptr)
            break;
        const unsigned int endpoint = *reinterpret_cast<unsigned int*>(data->data);
        g_object_unref(data);
        if (endpoint != kEndpointOut && endpoint != kEndpointIn) {
            *error = ENOENT;
            return -1;
        }
        m_halted[endpoint == kEndpointIn ? kIn : kOut] = false;
        return 0;
    }
    case USBDEVFS_RESET:
        m_model->ResetStream();   // a reset printer starts on a fresh command stream
        [[fallthrough]];
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
        // As on a real device, these reset the endpoints' halts.
        m_halted[kOut] = m_halted[kIn] = false;
        return 0;
    case USBDEVFS_RESETEP:
        return 0;
    default:
        *error = ENOTTY;
        return -1;
    }
    *error = EFAULT;
    return -1;
}

long UsbDevice::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg, int* error)
{
    UMockdevIoctlData* data = Resolve(arg, 0, sizeof(usbdevfs_urb));
    if (data == nullptr) {
        *error = EFAULT;
        return -1;
    }
    const usbdevfs_urb request = *reinterpret_cast<usbdevfs_urb*>(data->data);
    int refusal = 0;
    if (request.buffer_length < 0 || request.buffer_length > kMaxTransfer)
        refusal = EINVAL;
    else if (request.type == USBDEVFS_URB_TYPE_CONTROL)
        refusal = (request.endpoint & 0x7f) != 0 || request.buffer_length < 8 ? EINVAL : 0;
    else if (request.type != USBDEVFS_URB_TYPE_BULK)
        refusal = EINVAL;
    else if (request.endpoint != kEndpointOut && request.endpoint != kEndpointIn)
        refusal = ENOENT;
    if (refusal == 0 && request.type == USBDEVFS_URB_TYPE_BULK) {
        // Like the kernel, a transfer on an unclaimed interface claims it.
        ClientState& state = StateOf(client);
        if (!state.claimed) {
            bool taken = m_model->State(Clock::now()).driverBound;
            for (const auto& entry : m_clients)
                taken = taken || entry.second.claimed;
            if (taken)
                refusal = EBUSY;
            else
                state.claimed = true;
        }
    }
    UMockdevIoctlData* buffer = nullptr;
    if (refusal == 0 && request.buffer_length > 0) {
        buffer = Resolve(data, offsetof(usbdevfs_urb, buffer),
                         static_cast<size_t>(request.buffer_length));
        if (buffer == nullptr)
            refusal = EFAULT;
    }
    if (refusal != 0) {
        g_object_unref(data);
        *error = refusal;
        return -1;
    }

    Urb urb;
    urb.client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
    urb.data = data;
    urb.buffer = buffer;
    urb.address = data->client_addr;
    urb.type = request.type;
    urb.endpoint = request.endpoint;
    if (request.type == USBDEVFS_URB_TYPE_CONTROL) {
        Control(urb);
    } else if (request.endpoint == kEndpointOut) {
        // The data go to the printer as the link and its buffer allow
        // (PumpOut, after each request and on timers).
        ++m_outTransfers;
        m_outSizes.push_back(request.buffer_length);
        if (m_outSizes.size() > kOutSizesKept)
            m_outSizes.pop_front();
        if (m_halted[kOut] || m_model->TakeOutStall()) {
            // A halted endpoint fails every transfer until the host clears it.
            m_halted[kOut] = true;
            urb.done = true;
            urb.status = -EPIPE;
        } else if (m_model->TakeFault(FaultKind::StallWrite)) {
            urb.hung = true;
        }
    } else {
        TryFinishRead(urb);
    }
    m_urbs.push_back(urb);
    return 0;
}

void UsbDevice::TryFinishRead(Urb& urb)
{
    if (urb.done || urb.endpoint != kEndpointIn)
        return;
    if (urb.buffer == nullptr) {
        urb.done = true;
        return;
    }
    if (m_halted[kIn]) {
        urb.done = true;
        urb.status = -EPIPE;
        return;
    }
    size_t count = 0;
    switch (m_model->Read(urb.buffer->data, static_cast<size_t>(urb.buffer->data_len), &count,
                          Clock::now())) {
    case ReadOutcome::Data:
        urb.done = true;
        urb.actual = static_cast<int>(count);
        break;
    case ReadOutcome::Stall:
        m_halted[kIn] = true;
        urb.done = true;
        urb.status = -EPIPE;
        break;
    case ReadOutcome::Pending:
        break;
    }
}

void UsbDevice::Control(Urb& urb)
{
    urb.done = true;
    uint8_t* setup = urb.buffer->data;
    uint8_t* out = setup + 8;
    const size_t room = static_cast<size_t>(urb.buffer->data_len) - 8;
    const uint8_t type = setup[0];
    const uint8_t request = setup[1];
    const unsigned value = static_cast<unsigned>(setup[2] | setup[3] << 8);
    const unsigned target = static_cast<unsigned>(setup[4] | setup[5] << 8);   // wIndex
    const size_t wanted = std::min<size_t>(static_cast<size_t>(setup[6] | setup[7] << 8), room);

    std::string reply;
    bool ok = true;
    if (type == 0x80 && request == 6) {           // GET_DESCRIPTOR
        const unsigned kind = value >> 8, index = value & 0xff;
        if (kind == 1)
            reply.assign(reinterpret_cast<const char*>(kDeviceDescriptor), sizeof kDeviceDescriptor);
        else if (kind == 2 && index == 0)
            reply.assign(reinterpret_cast<const char*>(kConfiguration), sizeof kConfiguration);
        else if (kind == 3 && index == 0)
            reply = std::string("\x04\x03\x09\x04", 4);   // US English only
        else if (kind == 3 && index == 1)
            reply = StringDescriptor(kManufacturer);
        else if (kind == 3 && index == 2)
            reply = StringDescriptor(m_model->State(Clock::now()).product);
        else if (kind == 3 && index == 3)
            reply = StringDescriptor(m_model->State(Clock::now()).serial);
        else
            ok = false;
    } else if (type == 0x80 && request == 0) {    // GET_STATUS: self powered
        reply = std::string("\x01\x00", 2);
    } else if ((type == 0x82 || type == 0x02) && (target == kEndpointOut || target == kEndpointIn)) {
        bool& halted = m_halted[target == kEndpointIn ? kIn : kOut];
        if (type == 0x82 && request == 0)          // GET_STATUS of an endpoint: its halt
            reply = std::string(halted ? "\x01\x00" : "\x00\x00", 2);
        else if (type == 0x02 && request == 1 && value == 0)   // CLEAR_FEATURE(ENDPOINT_HALT)
            halted = false;
        else
            ok = false;
    } else if (type == 0xA1 && request == 0) {    // printer class GET_DEVICE_ID
        reply = m_model->DeviceIdReply();
    } else if (type == 0xA1 && request == 1) {    // GET_PORT_STATUS: selected, no error
        reply.push_back(0x18);
    } else if ((type == 0x21 && request == 2) || (type == 0x00 && request == 9)) {
        // SOFT_RESET, SET_CONFIGURATION: the bulk endpoints start afresh; a
        // soft reset also clears the printer's command stream.
        m_halted[kOut] = m_halted[kIn] = false;
        if (type == 0x21)
            m_model->ResetStream();
    } else {
        ok = false;
    }
    if (!ok) {
        urb.status = -EPIPE;
        return;
    }
    const size_t count = std::min(wanted, reply.size());
    std::memcpy(out, reply.data(), count);
    urb.actual = static_cast<int>(count);
}

long UsbDevice::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, int* error)
{
    PumpOut(Clock::now());
    for (auto it = m_urbs.begin(); it != m_urbs.end(); ++it) {
        if (it->client != client)
            continue;
        TryFinishRead(*it);
        if (!it->done)
            continue;
        UMockdevIoctlData* slot = Resolve(arg, 0, sizeof(void*));
        if (slot == nullptr) {
            *error = EFAULT;
            return -1;
        }
        auto* urb = reinterpret_cast<usbdevfs_urb*>(it->data->data);
        urb->status = it->status;
        urb->actual_length = it->actual;
        umockdev_ioctl_data_set_ptr(slot, 0, it->data);
        g_object_unref(slot);
        Release(*it);
        m_urbs.erase(it);
        return 0;
    }
    *error = m_gone ? ENODEV : EAGAIN;
    return -1;
}

long UsbDevice::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg, int* error)
{
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, static_cast<size_t>(arg->data_len)));
    for (Urb& urb : m_urbs) {
        if (urb.client == client && urb.address == address && !urb.done) {
            // The bytes an OUT transfer got out before it was cancelled stay
            // counted, as the kernel reports them.
            urb.done = true;
            urb.status = -ENOENT;
            return 0;
        }
    }
    *error = EINVAL;
    return -1;
}

}  // namespace rt50emu
