// The snapshot from the process-status tool: its text rules, the real tool, misbehaving ones.
#include "ps_tool.h"
#include "snapshot.h"
#include "support/require.h"
#include "support/self_watch.h"
#include "support/temp_dir.h"
#include "text_rules.h"

#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

extern char** environ;

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

const std::string bad = "\xEF\xBF\xBD"; // U+FFFD

// UTF-8 repair: one replacement per maximal ill-formed subpart, as Unicode recommends. Numbers:
// Qt sets the C library's locale from the environment, so these run under a decimal comma's.
TEST(TextRules, Utf8RepairAndNumbersInAnyLocale)
{
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"caf\xC3\xA9", "caf\xC3\xA9"}, {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"}, {"\xED\x9F\xBF", "\xED\x9F\xBF"},
        {"a\x80z", "a" + bad + "z"}, {"\xC0\xAF", bad + bad}, {"\xE2\x82z", bad + "z"},
        {"\xF0\x9F\x98", bad}, {"\xED\xA0\x80", bad + bad + bad}, {"\xE0\x80\x80", bad + bad + bad},
        {"\xF4\x90\x80\x80", bad + bad + bad + bad}, {"\xF5\xFF", bad + bad},
        {"ab\xE2", "ab" + bad}, {"\xF0\x9F\x98\xF0\x9F\x98\x80", bad + "\xF0\x9F\x98\x80"}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(decodeUtf8Lossy(in), out) << ::testing::PrintToString(in);
        EXPECT_EQ(isValidUtf8(in), in == out) << ::testing::PrintToString(in);
    }
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8"); // scripts/test-locale-setup
    using Int = std::optional<std::int64_t>;
    const std::tuple<const char*, Int, Int> integers[] = {
        {"0", 0, 0}, {"+42", 42, 42}, {"-42", -42, -42}, {"007", 7, 7},
        {"2147483647", INT32_MAX, INT32_MAX}, {"-2147483648", INT32_MIN, INT32_MIN},
        {"2147483648", {}, 2147483648LL}, {"-2147483649", {}, -2147483649LL},
        {"9223372036854775807", {}, INT64_MAX}, {"9223372036854775808", {}, {}}};
    const std::pair<const char*, double> doubles[] = {
        {"12.5", 12.5}, {"+12.5", 12.5}, {"-0.5", -0.5}, {"1e2", 100}, {".5", 0.5}, {"5.", 5},
        {"0x1p3", 8}, {"inf", INFINITY}, {"-Infinity", -INFINITY}, {"1e999", INFINITY}};
    // clang-format on
    for (const auto& [text, as32, as64] : integers) {
        EXPECT_EQ(parseInt32(text), as32) << text;
        EXPECT_EQ(parseInt64(text), as64) << text;
    }
    for (const char* wrong : {"", "+", "-", "+-1", "--1", "1.0", " 1", "1 ", "0x10", "1e3", "12a"})
        EXPECT_FALSE(parseInt64(wrong)) << wrong;
    for (const auto& [text, value] : doubles)
        EXPECT_EQ(parseDouble(text), value) << text;
    EXPECT_TRUE(std::isnan(*parseDouble("nan")));
    for (const char* wrong : {"", " 1.0", "1.0 ", "1,5", "1.2.3", ".", "+", "1e", "0x", "nanx"})
        EXPECT_FALSE(parseDouble(wrong)) << wrong;
    EXPECT_FALSE(parseDouble(std::string_view("1\0005", 3)));
    std::setlocale(LC_ALL, saved.c_str());
    if (!comma && !HasFailure()) // a skip would hide what failed
        CORVEL_SKIP_TEST("locale", "ran in the C locale only: de_DE.UTF-8 is not generated here");
}

TEST(ParsePS, LinesThatMakeARowAndLinesDropped)
{
    // clang-format off
    const std::tuple<const char*, std::int32_t, std::string> cases[] = {
        {"1 2 3 4", 1, ""}, {"1 2 3 4 ", 1, ""}, {"1 2 3 4  ", 1, " "}, {"1 2 3 4  cmd", 1, " cmd"},
        {"  12   1  0.5 2048 a  b   c ", 12, "a  b   c "}, {"1 2 3 4 tab\there", 1, "tab\there"},
        {"+7 -1 0.0 10 x", 7, "x"}, {"-5 -5 nan 0 y", -5, "y"}, {"6 1 0 2147483648 big", 6, "big"},
        {"10 1 0.0 10 /opt/caf\xE9/run", 10, "/opt/caf" + bad + "/run"}};
    const char* const dropped[] = {"", "     ", "1 2 3", "  PID  PPID %CPU   RSS COMMAND",
        "1\t2 0 1 x", "3 1 0,5 1 x", "2147483648 1 0 1 x", "4 2147483648 0 1 x", "5 1 0 -x x",
        "+ 1 0 1 x", "1\x80 1 0 1 x"};
    // clang-format on
    for (const auto& [line, pid, command] : cases) {
        const auto rows = parsePS(line);
        ASSERT_EQ(rows.size(), 1u) << line;
        EXPECT_EQ(std::tie(rows[0].pid, rows[0].command), std::tie(pid, command)) << line;
    }
    for (const char* line : dropped)
        EXPECT_TRUE(parsePS(line).empty()) << ::testing::PrintToString(line);

    const auto rows = parsePS("\n    1     0  0.0  11840 /sbin/init splash\n\n"
                              "  812     1 12.5 204800 /usr/bin/editor --new-window\n"
                              "  900   812  0.3   1024 [kworker/0:1]\n");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(std::tie(rows[1].pid, rows[1].ppid, rows[1].cpu, rows[1].rssKB, rows[1].command),
              std::make_tuple(812, 1, 12.5, 204800, "/usr/bin/editor --new-window"));
}

// The real tool lists a child's exact command line. Misbehaving ones end in bounded time with
// what could be parsed, leaving no child; a grandchild (pid in "<script>.pid") ends or is a zombie.
TEST(PSTool, TheRealOneListsExactlyMisbehavingOnesEndInBoundedTime)
{
    const char* const args[] = {"/bin/sleep", "30", "  0", nullptr}; // spaces inside an argument
    pid_t child = -1;
    posix_spawn(&child, args[0], nullptr, nullptr, const_cast<char**>(args), environ);
    std::map<std::int32_t, PSRow> listed;
    for (PSRow& row : runPS())
        listed.emplace(row.pid, std::move(row));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::int64_t resident = currentHoldings().residentKB; // within a quarter of it
    EXPECT_EQ(std::tuple(listed[::getpid()].ppid,
                         std::abs(listed[::getpid()].rssKB - resident) * 4 < resident,
                         listed[child].ppid, listed[child].command),
              std::tuple(::getppid(), true, ::getpid(), "/bin/sleep 30   0"));

#define ROW "#!/bin/sh\necho '1 0 0.0 4 a'\n"
#define GRANDCHILD "sleep 60 &\necho $! > \"$0.pid\"\n"
    // clang-format off
    const std::tuple<const char*, const char*, std::size_t, bool> tools[] = {
        {"NotExecutable", ROW, 0, false}, {"ExitsNonZero", ROW "echo oops >&2\nexit 3\n", 1, false},
        {"WritesGarbage", "#!/bin/sh\nprintf 'garbage\\n\\0\\0\\n1 0 0.0 4 ok\\n'\n", 1, false},
        {"NoFinalLineFeed", "#!/bin/sh\nprintf '1 0 0.0 4 a\\n2 1 0.0 4 b'\n", 2, false},
        {"Hangs", ROW "exec sleep 60\n", 1, false}, {"DiesBySignal", ROW "kill -9 $$\n", 1, false},
        {"ClosesOutputAndKeepsRunning", ROW "exec >&-\nexec sleep 60\n", 1, false},
        {"HangsInAGrandchild", ROW GRANDCHILD "sleep 60\n", 1, false},
        {"ExitsLeavingAGrandchildOnThePipe", ROW GRANDCHILD "exit 0\n", 1, false},
        {"StopsItself", ROW "kill -STOP $$\n", 1, false},
        {"Floods", "#!/bin/sh\nexec yes '1 0 0.0 4 flood'\n", (1u << 20) / 16, true},
        {"OneEndlessLine", "#!/bin/sh\nprintf '1 0 0.0 4 '\nexec cat /dev/zero\n", 1, true}};
    // clang-format on
    TempDir dir;
    // The child sees only the standard descriptors (3 is ls's own).
    const int leaky = ::open("/proc/self/stat", O_RDONLY); // no close-on-exec on purpose
    EXPECT_EQ(captureOutput("/bin/ls", {"ls", "/proc/self/fd"}, ToolLimits{}), "0\n1\n2\n3\n");
    ::close(leaky);
    for (const auto& [name, script, rows, sizeBound] : tools) {
        rows ? dir.writeScript(name, script) : dir.write(name, script);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(runPS(dir.path(name).c_str(), {sizeBound ? 60s : 1500ms, 1u << 20}).size(), rows)
            << name;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s) << name; // against a hang
        EXPECT_EQ(currentHoldings().children, 0) << name;
        pid_t grandchild = 0;
        if (std::ifstream(dir.path(std::string(name) + ".pid")) >> grandchild) {
            const auto gone = [&] { return (statAfterName(grandchild) + " Z")[1] == 'Z'; };
            for (int i = 0; i < 100 && !gone(); ++i)
                std::this_thread::sleep_for(50ms);
            EXPECT_TRUE(gone()) << name << ": the grandchild still runs";
            ::kill(grandchild, SIGKILL);
        }
    }
}

} // namespace
