#pragma once

#include <string>
#include <vector>

#include "errors/deferror.h"

namespace kestrel::testing {

// The error handler's services as a test sees them: every effect is written to a
// trace, the question box answers as told.
class FakeErrorServices final : public errors::ErrorHandlerServices {
  public:
    bool answer_ok = false;
    std::string program_path = "C:\\KESTREL\\KESTREL.EXE";
    std::vector<std::string> trace;
    std::vector<std::string> informed;
    std::vector<std::string> asked;
    std::vector<std::string> opened;
    bool neterr = false;

    void ReleaseSemaphore() override { trace.push_back("SUNLOCK"); }
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
    }
    void PostQuit() override { trace.push_back("quit"); }
};

}  // namespace kestrel::testing
