#include "serve/serve_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel::serve {
namespace {

using Mode = ServeOptions::Mode;

std::variant<ServeOptions, UsageError> Parse(std::vector<const char*> words) {
    words.insert(words.begin(), "kestrel-serve");
    return ParseServeOptions(words);
}

// The options of a command line that must parse; a usage error fails the test.
ServeOptions Options(std::vector<const char*> words) {
    auto parsed = Parse(std::move(words));
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        ADD_FAILURE() << "usage error: " << error->message;
        return {};
    }
    return std::get<ServeOptions>(std::move(parsed));
}

// The message of a command line that must be refused; empty when it parsed.
std::string Refusal(std::vector<const char*> words) {
    const auto parsed = Parse(std::move(words));
    const auto* error = std::get_if<UsageError>(&parsed);
    return error != nullptr ? error->message : "";
}

TEST(ServeOptions, APortAndATapeServeFromTheFirstEntryInEitherSpelling) {
    for (const auto& words : {std::vector{"--port", "/dev/ttyUSB0", "game.tap"},
                              std::vector{"game.tap", "--port=/dev/ttyUSB0"}}) {
        const ServeOptions options = Options(words);
        EXPECT_EQ(options.mode, Mode::kServe);
        EXPECT_EQ(options.device, "/dev/ttyUSB0");
        EXPECT_EQ(options.tape, "game.tap");
        EXPECT_EQ(options.from, 0u);
        EXPECT_EQ(options.member, "");
        EXPECT_FALSE(options.connect_to);
        EXPECT_FALSE(options.listen_on);
    }
}

TEST(ServeOptions, FromAndMemberChooseTheEntryAndTheTapeInAnArchive) {
    EXPECT_EQ(Options({"--from", "3", "--port", "/dev/ttyS0", "t.tap"}).from, 3u);
    EXPECT_EQ(Options({"--port", "/dev/ttyS0", "--from=12", "t.tap"}).from, 12u);
    const ServeOptions zipped = Options({"--member", "b.tzx", "--port", "/dev/ttyS0", "t.zip"});
    EXPECT_EQ(zipped.member, "b.tzx");
    EXPECT_EQ(zipped.tape, "t.zip");
}

TEST(ServeOptions, ATcpPortConnectsAndListenWaitsOnThisMachineUnlessToldWhere) {
    const ServeOptions bridge = Options({"--port", "tcp:bridge.local:4000", "t.tap"});
    EXPECT_EQ(bridge.device, "tcp:bridge.local:4000");
    ASSERT_TRUE(bridge.connect_to);
    EXPECT_EQ(bridge.connect_to->host, "bridge.local");
    EXPECT_EQ(bridge.connect_to->port, 4000);

    const ServeOptions here = Options({"--listen", "5000", "t.tap"});
    EXPECT_EQ(here.mode, Mode::kServe);
    EXPECT_EQ(here.device, "");
    ASSERT_TRUE(here.listen_on);
    EXPECT_EQ(here.listen_on->Text(), "127.0.0.1:5000");
    EXPECT_EQ(Options({"--listen=0.0.0.0:5001", "t.tap"}).listen_on->Text(), "0.0.0.0:5001");
    EXPECT_EQ(Options({"--listen", "[::1]:5002", "t.tap"}).listen_on->Text(), "[::1]:5002");
}

TEST(ServeOptions, ListTakesATapeAndAMemberButNoLine) {
    const ServeOptions list = Options({"--list", "--member", "a.tap", "t.zip"});
    EXPECT_EQ(list.mode, Mode::kList);
    EXPECT_EQ(list.tape, "t.zip");
    EXPECT_EQ(list.member, "a.tap");
    EXPECT_EQ(list.device, "");

    EXPECT_EQ(Refusal({"--list", "--port", "/dev/ttyS0", "t.tap"}),
              "--list and --port do not go together");
    EXPECT_EQ(Refusal({"--list", "--listen", "5000", "t.tap"}),
              "--list and --listen do not go together");
    EXPECT_EQ(Refusal({"--list", "--from", "1", "t.tap"}), "--from goes with --port");
}

TEST(ServeOptions, HelpAndVersionAnswerWhateverFollowsButNotAnEarlierMistake) {
    EXPECT_EQ(Options({"--help"}).mode, Mode::kHelp);
    EXPECT_EQ(Options({"-h", "--bogus"}).mode, Mode::kHelp);
    EXPECT_EQ(Options({"--port", "/dev/ttyS0", "--version"}).mode, Mode::kVersion);
    EXPECT_EQ(Refusal({"--bogus", "--help"}), "unknown option --bogus");
}

TEST(ServeOptions, EachMistakeIsNamedInOneLine) {
    const struct {
        std::vector<const char*> words;
        std::string message;
    } cases[] = {
        {{}, "--port DEVICE, --listen PORT or --list is needed"},
        {{"t.tap"}, "--port DEVICE, --listen PORT or --list is needed"},
        {{"--port", "/dev/ttyS0"}, "no tape given"},
        {{"--port"}, "--port needs a device"},
        {{"--port=", "t.tap"}, "--port needs a device"},
        {{"--listen"}, "--listen needs a port ([ADDR:]PORT)"},
        {{"--from"}, "--from needs an entry number"},
        {{"--member", "", "--list", "t.zip"}, "--member needs the name of a tape in the archive"},
        {{"--list", "t.zip", "--member"}, "--member needs the name of a tape in the archive"},
        {{"--port", "/dev/ttyS0", "--from", "0", "t.tap"},
         "--from needs an entry number (1 or more), not 0"},
        {{"--port", "/dev/ttyS0", "--from=2x", "t.tap"},
         "--from needs an entry number (1 or more), not 2x"},
        {{"--port", "/dev/ttyS0", "--from", "-1", "t.tap"},
         "--from needs an entry number (1 or more), not -1"},
        {{"--baud", "9600", "t.tap"}, "unknown option --baud"},
        {{"--list", "a.tap", "b.tap"}, "one tape at a time (a.tap, b.tap)"},
        {{"--listen", "5000", "--port", "/dev/ttyS0", "t.tap"},
         "--port and --listen do not go together"},
        {{"--port", "tcp:127.0.0.1:65536", "t.tap"},
         "--port tcp:127.0.0.1:65536: in 127.0.0.1:65536, the port 65536 is not a number from 1 "
         "to 65535"},
        {{"--port", "tcp:host", "t.tap"},
         "--port tcp:host: the address host has no port (HOST:PORT)"},
        {{"--listen", "::1:5000", "t.tap"},
         "--listen ::1:5000: the IPv6 address in ::1:5000 goes in brackets ([::1]:5000)"},
    };
    for (const auto& mistake : cases) {
        SCOPED_TRACE(mistake.message);
        EXPECT_EQ(Refusal(mistake.words), mistake.message);
    }
}

}  // namespace
}  // namespace kestrel::serve
