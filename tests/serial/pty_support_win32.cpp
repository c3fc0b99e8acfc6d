#include "serial/pty_support_win32.h"

#include "serial/port_table_win32.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <array>

namespace kestrel::testing {
namespace {

constexpr char kWindowClass[] = "KestrelTestNotify";

bool RegisterNotifyClass(WNDPROC procedure) {
    static const bool registered = [procedure] {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = procedure;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = kWindowClass;
        return RegisterClassA(&window_class) != 0;
    }();
    return registered;
}

std::chrono::steady_clock::time_point Deadline(std::chrono::milliseconds limit) {
    return std::chrono::steady_clock::now() + limit;
}

}  // namespace

std::string Pattern(std::size_t count, int seed) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] =
            static_cast<char>((static_cast<std::size_t>(seed) * 131 + i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

std::uint32_t Crc32(std::string_view bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

std::string Device(std::string_view port_name) {
    return "\\\\.\\" + std::string(port_name);
}

void Tell(serial::PortHandle port, std::string_view command) {
    const std::string line = std::string(command) + "\n";
    ASSERT_EQ(serial::WRITECOMM(port, line), static_cast<int>(line.size())) << command;
}

std::string ReadFor(serial::PortHandle port, std::size_t count, std::chrono::milliseconds limit) {
    std::string received;
    std::string buffer(1000, ' ');
    const auto deadline = Deadline(limit);
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        const int got = serial::READCOMM(port, buffer);
        if (got > 0) {
            received.append(buffer, 0, static_cast<std::size_t>(got));
        } else {
            Sleep(1);
        }
    }
    return received;
}

bool Sync(serial::PortHandle port) {
    Tell(port, "SYNC");
    std::string received;
    std::string buffer(1000, ' ');
    const auto deadline = Deadline(std::chrono::seconds(20));
    while (std::chrono::steady_clock::now() < deadline) {
        const int got = serial::READCOMM(port, buffer);
        received.append(buffer, 0, static_cast<std::size_t>(got));
        const auto answer = received.find("READY\n");
        if (answer != std::string::npos) {
            received.erase(0, answer + 6);
            return received.empty();
        }
        if (got == 0) {
            Sleep(1);
        }
    }
    return false;
}

serial::PortHandle OpenSynced(std::string_view port_name) {
    const serial::PortHandle port = serial::OPENCOMM(Device(port_name), 16384, 16384);
    EXPECT_TRUE(serial::IsOpen(port)) << port_name;
    if (!serial::IsOpen(port)) {
        return serial::kNoPort;
    }
    std::string settings;
    EXPECT_TRUE(serial::BUILDCOMMDCB("115200,N,8,2", settings));
    EXPECT_TRUE(serial::SETCOMMSTATE(port, settings));
    EXPECT_TRUE(Sync(port)) << "the remote on " << port_name << " did not answer";
    return port;
}

std::string ReadAfterReopening(std::string_view port_name, std::string_view tail) {
    const serial::PortHandle port = serial::OPENCOMM(Device(port_name), 16384, 16384);
    EXPECT_TRUE(serial::IsOpen(port)) << port_name;
    std::string received;
    std::string buffer(1000, ' ');
    PumpUntil([&] {
        received.append(buffer, 0, static_cast<std::size_t>(serial::READCOMM(port, buffer)));
        return received.ends_with(tail);
    });
    serial::CLOSECOMM(port);
    return received;
}

NotifyWindow::NotifyWindow() {
    if (!RegisterNotifyClass(&NotifyWindow::Procedure)) {
        ADD_FAILURE() << "cannot register the window class";
        return;
    }
    hwnd_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    if (hwnd_ == nullptr) {
        ADD_FAILURE() << "cannot create a message-only window: " << GetLastError();
        return;
    }
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

NotifyWindow::~NotifyWindow() {
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
}

LRESULT CALLBACK NotifyWindow::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == serial::kCommNotifyMessage && self != nullptr) {
        self->calls_.push_back({wparam, lparam, GetCurrentThreadId()});
        if (self->handler_) {
            self->handler_(static_cast<serial::PortHandle>(wparam), static_cast<int>(lparam));
        }
        return 0;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = Deadline(limit);
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) {
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        MsgWaitForMultipleObjectsEx(0, nullptr,
                                    static_cast<DWORD>(std::min<long long>(left.count(), 50)),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

void PumpWaiting() {
    PumpUntil([] { return HIWORD(GetQueueStatus(QS_ALLINPUT)) == 0; });
}

bool WaitForSentMessage(std::chrono::milliseconds limit) {
    const auto deadline = Deadline(limit);
    while ((HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left.count()), QS_SENDMESSAGE,
                                    MWMO_INPUTAVAILABLE);
    }
    return true;
}

std::size_t RingHolds(serial::PortHandle port) {
    const serial::PortRecord* record = serial::OpenPorts().Find(port);
    return record != nullptr ? record->ring.Unread() : 0;
}

int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace kestrel::testing
