// Text and console: code-page conversions, the standard streams, the clocks
// and the locale's separators.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "cp1251_table.h"
#include "win32.h"

#ifndef _WIN32
#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#endif

namespace {

constexpr UINT kKoi8r = 20866;
constexpr UINT kIso88595 = 28595;

std::wstring ToWide(UINT codePage, const std::string& bytes) {
    const int size =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                        size);
    return wide;
}

std::string ToBytes(UINT codePage, const std::wstring& wide) {
    const int size = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

// "Привет Ёё" as UTF-16 units.
const std::wstring kGreeting = {0x041F, 0x0440, 0x0438, 0x0432, 0x0435,
                                0x0442, 0x0020, 0x0401, 0x0451};

TEST(CodePageTest, CyrillicHasItsKnownBytesInEveryCodePage) {
    const struct {
        UINT codePage;
        std::string bytes;
    } cases[] = {
        {1251, "\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xB8"},
        {866, "\x8F\xE0\xA8\xA2\xA5\xE2 \xF0\xF1"},
        {kKoi8r, "\xF0\xD2\xC9\xD7\xC5\xD4 \xB3\xA3"},
        {kIso88595, "\xBF\xE0\xD8\xD2\xD5\xE2 \xA1\xF1"},
        {CP_UTF8, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\x81\xD1\x91"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToWide(c.codePage, c.bytes), kGreeting) << c.codePage;
        EXPECT_EQ(ToBytes(c.codePage, kGreeting), c.bytes) << c.codePage;
    }
}

TEST(CodePageTest, EveryByteOfTheEightBitCodePagesRoundTrips) {
    for (UINT codePage : {1251u, 866u, kKoi8r, kIso88595}) {
        std::string all;
        for (int byte = 1; byte < 256; ++byte) {
            all += static_cast<char>(byte);
        }
        const std::wstring wide = ToWide(codePage, all);
        EXPECT_EQ(wide.size(), all.size()) << codePage;
        EXPECT_EQ(ToBytes(codePage, wide), all) << codePage;
    }
}

// The programs convert their texts at compile time with the project's own
// table; the platform must read every byte of them as the same character.
TEST(CodePageTest, PlatformAgreesWithTheProjectsWindows1251Table) {
    std::string all(256, '\0');
    for (int byte = 0; byte < 256; ++byte) {
        all[byte] = static_cast<char>(byte);
    }
    const std::wstring wide = ToWide(1251, all);
    ASSERT_EQ(wide.size(), all.size());
    for (int byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(static_cast<std::uint32_t>(wide[byte]),
                  cp1251::CodePointOf(static_cast<unsigned char>(byte)))
            << byte;
    }
    EXPECT_EQ(ToBytes(1251, wide), all);
}

TEST(CodePageTest, SizesFollowTheWin32Conventions) {
    // -1: the terminator is counted and converted.
    EXPECT_EQ(MultiByteToWideChar(1251, 0, "abc", -1, nullptr, 0), 4);
    WCHAR wide[4] = {1, 1, 1, 1};
    EXPECT_EQ(MultiByteToWideChar(1251, 0, "abc", -1, wide, 4), 4);
    EXPECT_EQ(wide[3], 0);
    EXPECT_EQ(MultiByteToWideChar(1251, 0, "abc", 3, wide, 4), 3);

    // A buffer too small: 0 and ERROR_INSUFFICIENT_BUFFER.
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(1251, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    const WCHAR text[] = {0x0416, 0x0436, 0};  // Жж
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 5);
    char bytes[5] = {};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(866, 0, text, -1, bytes, 5, nullptr, nullptr), 3);
    EXPECT_STREQ(bytes, "\x86\xA6");
}

TEST(CodePageTest, UnmappableCharacterBecomesTheDefaultCharacter) {
    const WCHAR text[] = {L'a', 0x4E2D, L'b'};  // a CJK character between two letters
    char bytes[4] = {};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(1251, 0, text, 3, bytes, 3, nullptr, &usedDefault), 3);
    EXPECT_EQ(std::string(bytes, 3), "a?b");
    EXPECT_TRUE(usedDefault);

    EXPECT_EQ(WideCharToMultiByte(kKoi8r, 0, text, 3, bytes, 3, "*", &usedDefault), 3);
    EXPECT_EQ(std::string(bytes, 3), "a*b");

    EXPECT_EQ(WideCharToMultiByte(1251, 0, kGreeting.data(), 6, bytes, 0, nullptr, &usedDefault),
              6);
    EXPECT_FALSE(usedDefault);
}

TEST(CodePageTest, Utf8BeyondTheBmpAndMalformedInput) {
    const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600
    const std::wstring pair = {0xD83D, 0xDE00};
    EXPECT_EQ(ToWide(CP_UTF8, emoji), pair);
    EXPECT_EQ(ToBytes(CP_UTF8, pair), emoji);

    EXPECT_EQ(ToWide(CP_UTF8,
                     "a\xFF"
                     "b"),
              (std::wstring{L'a', 0xFFFD, L'b'}));
    EXPECT_EQ(ToWide(CP_UTF8, "\xD0"), (std::wstring{0xFFFD}));  // cut short
}

TEST(TimeTest, SleepLastsItsTimeAndTheClocksFollow) {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER before{};
    LARGE_INTEGER after{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    ASSERT_GT(frequency.QuadPart, 0);
    const DWORD ticksBefore = GetTickCount();
    ASSERT_TRUE(QueryPerformanceCounter(&before));
    Sleep(60);
    ASSERT_TRUE(QueryPerformanceCounter(&after));
    const DWORD ticks = GetTickCount() - ticksBefore;
    const double elapsedMs = static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 /
                             static_cast<double>(frequency.QuadPart);
    EXPECT_GE(elapsedMs, 59.9);
    EXPECT_LT(elapsedMs, 5000.0);
    EXPECT_GE(ticks, 40u);  // the tick count may be as coarse as 16 ms
    EXPECT_LT(ticks, 5000u);

    Sleep(0);  // gives up the time slice and returns
}

TEST(TimeTest, SystemAndLocalTimeAgreeWithTheCLibrary) {
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    GetSystemTime(&utc);
    GetLocalTime(&local);
    const std::time_t now = std::time(nullptr);
    const std::tm expectedUtc = *std::gmtime(&now);
    const std::tm expectedLocal = *std::localtime(&now);

    auto secondsOfDay = [](int hour, int minute, int second) {
        return (hour * 60 + minute) * 60 + second;
    };
    auto withinTwoSeconds = [](int a, int b) {
        const int difference = (a - b + 86400) % 86400;
        return difference <= 2 || difference >= 86398;
    };
    EXPECT_TRUE(withinTwoSeconds(
        secondsOfDay(utc.wHour, utc.wMinute, utc.wSecond),
        secondsOfDay(expectedUtc.tm_hour, expectedUtc.tm_min, expectedUtc.tm_sec)));
    EXPECT_TRUE(withinTwoSeconds(
        secondsOfDay(local.wHour, local.wMinute, local.wSecond),
        secondsOfDay(expectedLocal.tm_hour, expectedLocal.tm_min, expectedLocal.tm_sec)));
    EXPECT_EQ(utc.wYear, expectedUtc.tm_year + 1900);
    EXPECT_GE(utc.wMonth, 1);
    EXPECT_LE(utc.wMonth, 12);
    EXPECT_LE(utc.wDayOfWeek, 6);
    EXPECT_LT(utc.wMilliseconds, 1000);
    EXPECT_LT(local.wMilliseconds, 1000);
}

TEST(LocaleTest, SeparatorsAreOneCharacterAndSizesFollowWin32) {
    char decimal[8] = {};
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, sizeof decimal), 2);
    EXPECT_EQ(std::strlen(decimal), 1u);
    char time[8] = {};
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, time, sizeof time), 2);
    EXPECT_EQ(std::strlen(time), 1u);

    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, nullptr, 0), 2);  // size query
    char tooSmall[1];
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, tooSmall, 1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

#ifndef _WIN32

bool StartChild(const std::string& arguments, PROCESS_INFORMATION& info) {
    std::string commandLine = "conformance_child " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info) != FALSE;
}

// Runs a child with LC_ALL set to `locale`; its exit code, -1 if it did not start.
// Sets (or with null removes) an environment variable until restored.
struct SavedVariable {
    std::string name;
    bool present;
    std::string value;
};

SavedVariable SetVariable(const char* name, const char* value) {
    const char* previous = std::getenv(name);
    SavedVariable saved{name, previous != nullptr, previous != nullptr ? previous : ""};
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
    return saved;
}

void RestoreVariable(const SavedVariable& saved) {
    if (saved.present) {
        setenv(saved.name.c_str(), saved.value.c_str(), 1);
    } else {
        unsetenv(saved.name.c_str());
    }
}

// Runs a child with LC_ALL set to `locale` (looked up in `localeFolder` when
// given); its exit code, -1 if it did not start.
int RunChildInLocale(const char* locale, const std::string& arguments,
                     const char* localeFolder = nullptr) {
    const SavedVariable savedLocale = SetVariable("LC_ALL", locale);
    const SavedVariable savedPath = SetVariable("LOCPATH", localeFolder);
    PROCESS_INFORMATION info{};
    const bool started = StartChild(arguments, info);
    RestoreVariable(savedPath);
    RestoreVariable(savedLocale);
    if (!started) {
        return -1;
    }
    DWORD code = STILL_ACTIVE;
    for (int waited = 0; waited < 20000 && code == STILL_ACTIVE; waited += 5) {
        Sleep(5);
        GetExitCodeProcess(info.hProcess, &code);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}

bool LocaleInstalled(const char* name) {
    locale_t locale = newlocale(LC_ALL_MASK, name, nullptr);
    if (locale == nullptr) {
        return false;
    }
    freelocale(locale);
    return true;
}

// Puts `fd` in place of standard stream `target` until destroyed.
struct Redirection {
    int target;
    int saved;
};

Redirection Redirect(int target, int fd) {
    std::fflush(nullptr);
    const Redirection redirection{target, dup(target)};
    dup2(fd, target);
    return redirection;
}

void Restore(const Redirection& redirection) {
    dup2(redirection.saved, redirection.target);
    close(redirection.saved);
}

DWORD FileTypeOf(int fd) {
    const Redirection redirection = Redirect(STDIN_FILENO, fd);
    const DWORD type = GetFileType(GetStdHandle(STD_INPUT_HANDLE));
    Restore(redirection);
    return type;
}

TEST(ConsoleTest, FileTypeTellsPipeFileAndCharacterDevice) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_EQ(FileTypeOf(pipeFds[0]), FILE_TYPE_PIPE);
    close(pipeFds[0]);
    close(pipeFds[1]);

    char path[] = "/tmp/herdlab_file_type_XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    EXPECT_EQ(FileTypeOf(file), FILE_TYPE_DISK);
    close(file);
    unlink(path);

    const int null = open("/dev/null", O_RDWR);
    EXPECT_EQ(FileTypeOf(null), FILE_TYPE_CHAR);
    close(null);

    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
        EXPECT_EQ(FileTypeOf(slave), FILE_TYPE_CHAR);
        close(master);
        close(slave);
    }
    EXPECT_EQ(GetFileType(nullptr), FILE_TYPE_UNKNOWN);
}

TEST(ConsoleTest, WriteToAClosedPipeFailsWithoutSigpipe) {
    struct sigaction previous {};
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &fallback, &previous);  // SIGPIPE would end the test program
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);

    const Redirection redirection = Redirect(STDOUT_FILENO, pipeFds[1]);
    DWORD written = 99;
    SetLastError(0);
    const BOOL ok = WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "line\r\n", 6, &written, nullptr);
    const DWORD error = GetLastError();
    Restore(redirection);
    close(pipeFds[1]);

    EXPECT_FALSE(ok);
    EXPECT_EQ(error, 32u);  // EPIPE, Windows' ERROR_NO_DATA aside
    EXPECT_EQ(written, 0u);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);  // nothing left to strike later
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST(ConsoleTest, WriteSendsALargeBufferWholeAndInOrder) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::string text(300000, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char>('a' + i % 26);
    }
    std::string received;
    std::thread reader([&] {
        char chunk[4096];
        ssize_t got;
        while ((got = read(pipeFds[0], chunk, sizeof chunk)) > 0) {
            received.append(chunk, static_cast<std::size_t>(got));
        }
    });
    const Redirection redirection = Redirect(STDOUT_FILENO, pipeFds[1]);
    DWORD written = 0;
    const BOOL ok = WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                              static_cast<DWORD>(text.size()), &written, nullptr);
    Restore(redirection);
    close(pipeFds[1]);
    reader.join();
    close(pipeFds[0]);
    EXPECT_TRUE(ok);
    EXPECT_EQ(written, text.size());
    EXPECT_TRUE(received == text);
}

TEST(ConsoleTest, ReadGivesTheDataThenTheEnd) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    ASSERT_EQ(write(pipeFds[1], "42\n", 3), 3);
    close(pipeFds[1]);
    const Redirection redirection = Redirect(STDIN_FILENO, pipeFds[0]);
    char buffer[16] = {};
    DWORD first = 0;
    DWORD second = 99;
    const BOOL firstOk =
        ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &first, nullptr);
    const BOOL secondOk =
        ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &second, nullptr);
    Restore(redirection);
    close(pipeFds[0]);
    EXPECT_TRUE(firstOk);
    EXPECT_EQ(std::string(buffer, first), "42\n");
    EXPECT_TRUE(secondOk);
    EXPECT_EQ(second, 0u);
}

TEST(ConsoleTest, TitleIsSetOnlyOnATerminalAndCannotInjectControls) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        GTEST_SKIP() << "no pseudo-terminal";
    }
    Redirection redirection = Redirect(STDOUT_FILENO, slave);
    EXPECT_TRUE(SetConsoleTitleA("Process Monitor\x07\x1b[2J"));
    Restore(redirection);
    char buffer[64] = {};
    const ssize_t got = read(master, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0),
              "\x1b]0;Process Monitor??[2J\x07");
    close(master);
    close(slave);

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    redirection = Redirect(STDOUT_FILENO, pipeFds[1]);
    EXPECT_TRUE(SetConsoleTitleA("Process Monitor"));
    Restore(redirection);
    int pending = -1;
    ioctl(pipeFds[0], FIONREAD, &pending);
    EXPECT_EQ(pending, 0);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST(ConsoleTest, OutputCodePageFollowsTheLocale) {
    EXPECT_EQ(RunChildInLocale("C.UTF-8", "codepage"), 1);
    EXPECT_EQ(RunChildInLocale("C", "codepage"), 1);  // ASCII: UTF-8 is its superset
    if (LocaleInstalled("ru_RU.UTF-8")) {
        EXPECT_EQ(RunChildInLocale("ru_RU.UTF-8", "codepage"), 1);
    }
}

TEST(LocaleTest, SeparatorsComeFromTheLocale) {
    const std::string decimal = "locale-info " + std::to_string(LOCALE_SDECIMAL);
    const std::string time = "locale-info " + std::to_string(LOCALE_STIME);
    EXPECT_EQ(RunChildInLocale("C", decimal), '.');
    EXPECT_EQ(RunChildInLocale("C", time), ':');
    if (LocaleInstalled("ru_RU.UTF-8")) {
        EXPECT_EQ(RunChildInLocale("ru_RU.UTF-8", decimal), ',');
        EXPECT_EQ(RunChildInLocale("ru_RU.UTF-8", time), ':');
    }
}

// The Russian locale in two 8-bit character sets, built for the test with
// localedef so that no installed locale is needed.
TEST(LocaleTest, RussianEightBitLocalesGiveTheirCodePageAndAComma) {
    char folder[] = "/tmp/herdlab_locales_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const struct {
        const char* charset;
        int codePage;  // as the child reports it
    } cases[] = {{"KOI8-R", 2}, {"CP1251", 5}};
    const std::string decimal = "locale-info " + std::to_string(LOCALE_SDECIMAL);
    for (const auto& c : cases) {
        const std::string name = std::string("ru_RU.") + c.charset;
        const std::string build = "localedef -i ru_RU -f " + std::string(c.charset) + " " + folder +
                                  "/" + name + " >/dev/null 2>&1";
        if (std::system(build.c_str()) < 0 ||
            !std::filesystem::exists(std::string(folder) + "/" + name)) {
            std::filesystem::remove_all(folder);
            GTEST_SKIP() << "localedef cannot build " << name;
        }
        EXPECT_EQ(RunChildInLocale(name.c_str(), "codepage", folder), c.codePage) << name;
        EXPECT_EQ(RunChildInLocale(name.c_str(), decimal, folder), ',') << name;
    }
    std::filesystem::remove_all(folder);
}

void IgnoreSignal(int) {}

// A signal handler interrupting the sleep must not shorten it.
TEST(TimeTest, SleepIsNotShortenedBySignals) {
    struct sigaction handler {};
    struct sigaction previous {};
    handler.sa_handler = IgnoreSignal;  // no SA_RESTART: the sleep sees EINTR
    sigaction(SIGUSR1, &handler, &previous);
    const pthread_t sleeper = pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        while (!done) {
            pthread_kill(sleeper, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    Sleep(150);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GE(elapsed, std::chrono::milliseconds(150));
}

#endif

}  // namespace
