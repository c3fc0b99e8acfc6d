// The descriptor owner and the system calls that a signal must not cut short.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "base/eintr_posix.h"
#include "base/unique_fd_posix.h"

namespace kestrel::base {
namespace {

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFd, ClosesItsDescriptorOnceAndNeverOneItHandedOn) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const int read_end = ends[0];
    const int write_end = ends[1];
    {
        UniqueFd owner(read_end);
        UniqueFd other(write_end);
        owner = std::move(other);  // the read end closes, the write end changes hands
        EXPECT_FALSE(IsOpen(read_end));
        EXPECT_TRUE(IsOpen(write_end));
        EXPECT_FALSE(other);
        EXPECT_EQ(owner.release(), write_end);
    }
    EXPECT_TRUE(IsOpen(write_end));  // released: the caller owns it now
    close(write_end);
}

std::atomic<int> g_signals_caught{0};

extern "C" void CountSignal(int) {
    g_signals_caught.fetch_add(1);
}

// While it lives, SIGUSR1 interrupts system calls (no SA_RESTART) of `target`, which
// it signals at once and then every few milliseconds until stopped.
class Interrupter {
  public:
    explicit Interrupter(pthread_t target) : target_(target) {
        struct sigaction action {};
        action.sa_handler = CountSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(SIGUSR1, &action, &previous_);
        thread_ = std::thread([this] {
            do {
                pthread_kill(target_, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            } while (!stop_.load());
        });
    }
    ~Interrupter() {
        stop_.store(true);
        thread_.join();
        sigaction(SIGUSR1, &previous_, nullptr);
    }

  private:
    pthread_t target_;
    struct sigaction previous_ {};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A pipe to wait on, and no signal caught yet.
class SignalRetry : public ::testing::Test {
  protected:
    void SetUp() override {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        read_end_.reset(ends[0]);
        write_end_.reset(ends[1]);
        g_signals_caught.store(0);
    }
    UniqueFd read_end_;
    UniqueFd write_end_;
};

TEST_F(SignalRetry, AReadGoesOnThroughSignalsUntilItsBytesCome) {
    Interrupter interrupter(pthread_self());
    std::thread writer([&] {
        // Several signals come while the read waits before its byte is written.
        while (g_signals_caught.load() < 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const char byte = 'B';
        ASSERT_EQ(WriteRetrying(write_end_.get(), &byte, 1), 1);
    });
    char got = 0;
    const ssize_t count = ReadRetrying(read_end_.get(), &got, 1);
    writer.join();
    EXPECT_EQ(count, 1);
    EXPECT_EQ(got, 'B');
}

TEST_F(SignalRetry, APollWithATimeoutEndsAtItsOwnDeadlineWhateverSignalsCome) {
    pollfd wanted{read_end_.get(), POLLIN, 0};
    const auto started = std::chrono::steady_clock::now();
    int ready = -1;
    {
        Interrupter interrupter(pthread_self());
        ready = PollRetrying(&wanted, 1, 200);
    }
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(ready, 0);  // a time-out, not a failure
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_GT(g_signals_caught.load(), 0);
}

}  // namespace
}  // namespace kestrel::base
