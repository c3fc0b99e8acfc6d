#pragma once

#include <functional>
#include <string>
#include <vector>

#include "errors/deferror.h"

namespace kestrel::testing {

// The error handler's services as a test sees them: every effect is written to a
// trace, the question box answers as told. A test that runs the library's tables
// under the handler wires the semaphore release and the network-error flag to the
// library through the two hooks, as the program does.
class FakeErrorServices final : public errors::ErrorHandlerServices {
  public:
    bool answer_ok = false;
    std::string program_path = "C:\\KESTREL\\KESTREL.EXE";
    std::vector<std::string> trace;
    std::vector<std::string> informed;
    std::vector<std::string> asked;
    std::vector<std::string> opened;
    bool neterr = false;
    std::function<void()> on_release = [] {};
    std::function<void()> on_network_error = [] {};

    void ReleaseSemaphore() override {
        trace.push_back("SUNLOCK");
        on_release();
    }
    void Inform(std::string_view text) override {
        trace.push_back("POPMSG 1");
        informed.emplace_back(text);
    }
    bool Ask(std::string_view text) override {
        trace.push_back("POPMSG 2");
        asked.emplace_back(text);
        return answer_ok;
    }
    std::string ProgramPath() override { return program_path; }
    void OpenWithShell(const std::string& address) override {
        trace.push_back("shell");
        opened.push_back(address);
    }
    void SetNetworkError() override {
        trace.push_back("NETERR");
        neterr = true;
        on_network_error();
    }
    void PostQuit() override { trace.push_back("quit"); }
};

}  // namespace kestrel::testing
