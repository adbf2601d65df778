// herdtrace --live in a real browser: headless Chromium opens the page from
// disk as a teacher's browser does (no server, no flags that loosen what a
// page from disk may do), in the middle of a run and at its end, and while
// its frames are being replaced as fast as they can be. Skipped where
// Debian's chromium is not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>

#include "harness.h"
#include "herdlab_toolkit.h"
#include "live_page.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A name that would run a script if the page ever took it as markup.
const std::string kHostile = "<img/src=x/onerror=document.body.dataset.pwned=1>&\"</script>";
// The same name as the browser writes it back in a dump of the DOM.
const std::string kHostileAsText =
    "&lt;img/src=x/onerror=document.body.dataset.pwned=1&gt;&amp;\"&lt;/script&gt;";

bool ChromiumInstalled() {
    return std::system("command -v chromium >/dev/null 2>&1") == 0;
}

// Runs headless Chromium on the page with `what` (--dump-dom, --screenshot=...)
// and returns what it printed. It runs the page's timers for `budget` of
// virtual time, during which the page asks for its frame script again.
std::string Chromium(const fs::path& page, const std::string& what, int budget = 1500) {
    char profile[] = "/tmp/herdlab-chromium-XXXXXX";
    if (mkdtemp(profile) == nullptr) {
        return {};
    }
    const std::string command =
        "chromium --headless --no-sandbox --disable-gpu --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--window-size=1280,720 --user-data-dir=" +
        std::string(profile) + " --virtual-time-budget=" + std::to_string(budget) + " " + what +
        " 'file://" + page.string() + "' 2>/dev/null";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, got);
        }
        pclose(pipe);
    }
    fs::remove_all(profile);
    return out;
}

std::string FileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The page's own report on the <html> element: its script ran without an
// error, and nothing the traced programs printed ran as markup.
void ExpectHealthyPage(const std::string& dom) {
    EXPECT_TRUE(Has(dom, "data-script=\"ok\"")) << dom.substr(0, 400);
    EXPECT_FALSE(Has(dom, "data-script-error=\""));
    EXPECT_FALSE(Has(dom, "pwned=\"1\""));
    EXPECT_TRUE(Has(dom, "</svg>"));
}

// With HERDLAB_SCREENSHOT_DIR set, the page as it looks at 1280x720 is kept
// there, to be looked at.
void KeepScreenshot(const fs::path& page, const std::string& name) {
    if (const char* folder = std::getenv("HERDLAB_SCREENSHOT_DIR")) {
        Chromium(page, "--screenshot=" + (fs::path(folder) / name).string());
    }
}

class LivePageInBrowser : public ::testing::Test {
  protected:
    void SetUp() override {
        if (harness::UnderRunner()) {
            GTEST_SKIP() << "the test child is a Linux program";
        }
        if (!ChromiumInstalled()) {
            GTEST_SKIP() << "needs Debian's chromium (scripts/install-deps.sh test installs it)";
        }
        folder = fs::temp_directory_path() /
                 ("live-page-test-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
};

// Mid-run the page shows the lane so far and no summary; once the run is
// over, every lane and the summary, and it says the run has ended. The
// child's name is markup throughout, and stays text.
TEST_F(LivePageInBrowser, ShowsTheRunSoFarThenTheWholeRun) {
    const fs::path page = folder / "run.html";
    harness::Options options;
    options.arguments = {"--live",
                         "-o",
                         (folder / "run.svg").string(),
                         "--",
                         harness::ProgramPath("herdtrace_test_child"),
                         kHostile,
                         "hold",
                         "300"};
    harness::Session session = harness::Start("herdtrace", options);
    ASSERT_TRUE(harness::WaitForOutput(session, "поиск начал", 10s));
    ASSERT_TRUE(harness::WaitUntil(
        session, [&] { return Has(FileText(page), "Слон &lt;img/src=x"); }, 10s));

    const std::string during = Chromium(page, "--dump-dom");
    ExpectHealthyPage(during);
    EXPECT_TRUE(Has(during, "data-live=\"running\""));
    EXPECT_TRUE(Has(during, "Слон " + kHostileAsText + " — высокий"));
    EXPECT_FALSE(Has(during, "Слон later"));
    EXPECT_FALSE(Has(during, "Итог herdtrace"));
    EXPECT_TRUE(Has(during, "Прошло"));
    KeepScreenshot(page, "live-during.png");

    harness::Send(session, "\n");
    harness::Finish(session, 30s);
    EXPECT_EQ(session.exitCode, 0) << session.errorText;
    EXPECT_TRUE(Has(session.outputText, "Страница: " + page.string()));
    const std::string after = Chromium(page, "--dump-dom");
    ExpectHealthyPage(after);
    EXPECT_TRUE(Has(after, "data-live=\"ended\""));
    EXPECT_TRUE(Has(after, "Слон later — нормальный"));
    EXPECT_TRUE(Has(after, "Итог herdtrace"));
    EXPECT_TRUE(Has(after, "Запуск окончен"));
    KeepScreenshot(page, "live-after.png");
}

// While the run goes on, the page shows each child's states so far, exact
// or sampled, not only at the end: a child that has slept for seconds says
// so in its lane's totals.
TEST_F(LivePageInBrowser, ShowsTheStatesWhileTheRunGoesOn) {
    const fs::path page = folder / "tree.html";
    harness::Options options;
    options.arguments = {"--live",
                         "-o",
                         (folder / "tree.svg").string(),
                         "--",
                         harness::ProgramPath("herdtrace_test_child"),
                         "top",
                         "tree",
                         "6000"};
    harness::Session session = harness::Start("herdtrace", options);
    const std::regex asleep(
        "Слон sleeper — [^:<]*: выполняется \\d+ мс, готов \\d+ мс, "
        "спит [1-9]\\d* мс");
    std::string dom;
    const bool shown = harness::WaitUntil(
        session,
        [&] {
            dom = fs::exists(page) ? Chromium(page, "--dump-dom") : std::string();
            return std::regex_search(dom, asleep);
        },
        20s);
    harness::Finish(session, 30s);
    EXPECT_TRUE(shown) << dom.substr(0, 4000);
    EXPECT_TRUE(Has(dom, "data-live=\"running\""));
}

// A frame written with `lanes` elephants, numbered `number`.
herdtrace::LiveFrame FrameWithLanes(int lanes, bool ended) {
    std::string transcript;
    for (int i = 1; i <= lanes; ++i) {
        transcript += "12:00:0" + std::to_string(i % 10) + ".000 - Слон " + std::to_string(i) +
                      kHostile + " поиск начал, приоритет - высокий\n";
    }
    herdtrace::TracedRun run;
    run.output = transcript;
    const herdtrace::Millis noon = 12 * 3600 * 1000;
    return herdtrace::MakeFrame(herdtrace::TraceSoFar(run, noon + 10000), noon + 10000, ended);
}

// The page takes its next frame from the frame script: written with frame
// 1 (one lane), it shows frame 2 (three lanes, ended) that only the script
// holds.
TEST_F(LivePageInBrowser, TakesTheNextFrameFromItsScript) {
    herdtrace::LivePage page = herdtrace::OpenLivePage((folder / "run.svg").string());
    herdtrace::LiveFrame first = FrameWithLanes(1, false);
    first.number = 1;
    herdtrace::LiveFrame second = FrameWithLanes(3, true);
    second.number = 2;
    ASSERT_TRUE(herdlab_toolkit::ReplaceFileWhole(page.path, PageHtml(first, "run.frame.js")));
    ASSERT_TRUE(herdlab_toolkit::ReplaceFileWhole(page.framePath, FrameScript(second)));
    const std::string dom = Chromium(page.path, "--dump-dom");
    ExpectHealthyPage(dom);
    EXPECT_TRUE(Has(dom, "data-frame=\"2\""));
    EXPECT_TRUE(Has(dom, "data-live=\"ended\""));
    EXPECT_TRUE(Has(dom, "Слон 3" + kHostileAsText));
    EXPECT_TRUE(Has(dom, "Итог herdtrace"));
}

// Frames replaced as fast as they can be written, while the browser opens
// the page again and again and loads frame after frame: every dump is a
// whole page, and the lanes it shows are those of the frame it names.
TEST_F(LivePageInBrowser, AFrameReplacedWhileTheBrowserReadsNeverBreaksThePage) {
    herdtrace::LivePage page = herdtrace::OpenLivePage((folder / "run.svg").string());
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        herdtrace::LiveFrame frames[15];
        for (int i = 0; i < 15; ++i) {
            frames[i] = FrameWithLanes(i + 1, false);
        }
        for (long long n = 1; !stop; ++n) {
            herdtrace::LiveFrame& frame = frames[n % 15];
            frame.number = n;
            herdlab_toolkit::ReplaceFileWhole(page.framePath, FrameScript(frame));
            herdlab_toolkit::ReplaceFileWhole(page.path, PageHtml(frame, "run.frame.js"));
        }
    });
    const std::regex shownFrame("data-frame=\"(\\d+)\"");
    for (int dump = 0; dump < 8; ++dump) {
        const std::string dom = Chromium(page.path, "--dump-dom", 800);
        ExpectHealthyPage(dom);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(dom, match, shownFrame)) << dom.substr(0, 300);
        const long long lanes = std::stoll(match[1]) % 15 + 1;
        EXPECT_TRUE(Has(dom, "Слон " + std::to_string(lanes) + kHostileAsText));
        EXPECT_FALSE(Has(dom, "Слон " + std::to_string(lanes + 1) + kHostileAsText));
        EXPECT_TRUE(Has(dom, "</html>"));
    }
    stop = true;
    writer.join();
}

}  // namespace
