// The README's run command as a teacher runs it, with typed answers from a
// pipe: the lesson's settings are announced before the launcher's first
// line, and the picture and the live page land in the folder the script was
// started from (without a desktop the page's path is printed). The script
// runs the programs already built (--bin) instead of its own build.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(RunHerdScript, LessonFromPipeWritesThePictureWhereItWasStarted) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "runs the Linux programs";
    }
    const fs::path folder = fs::temp_directory_path() / ("run-herd-" + std::to_string(getpid()));
    fs::create_directories(folder);
    // No desktop: the page is not opened, its path is printed.
    const harness::EnvironmentSetting noX("DISPLAY", nullptr);
    const harness::EnvironmentSetting noWayland("WAYLAND_DISPLAY", nullptr);
    harness::Options options;
    options.programDirectory = HERDLAB_SOURCE_DIR "/scripts";
    options.workingDirectory = folder.string();
    options.arguments = {"--bin", fs::path(harness::ProgramPath("herdboss1")).parent_path()};
    const harness::Session session = harness::Run("run-herd.sh", "2\n0\n1\n", options, 120s);
    const fs::path picture = folder / "herd.svg";
    const bool pictureWritten = fs::exists(picture) && fs::file_size(picture) > 0;
    const fs::path page = folder / "herd.html";
    std::ifstream pageFile(page, std::ios::binary);
    const std::string pageText{std::istreambuf_iterator<char>(pageFile), {}};
    fs::remove_all(folder);

    EXPECT_EQ(session.exitCode, 0) << session.errorText;
    const std::string& out = session.outputText;
    const std::size_t announced = out.find("HERDLAB_CPUS=1");
    const std::size_t launcherBegins = out.find("Начало работы");
    EXPECT_LT(announced, launcherBegins) << out;
    EXPECT_NE(out.find("ВРЕМЯ ОЖИДАНИЯ ИСТЕКЛО"), std::string::npos) << out;
    EXPECT_NE(out.find("The picture of this run: " + picture.string()), std::string::npos) << out;
    EXPECT_TRUE(pictureWritten);
    EXPECT_LT(out.find("The live page of this run, to open in a browser: " + page.string()),
              launcherBegins)
        << out;
    // The page's last frame: the whole run, its summary, the run ended.
    EXPECT_NE(pageText.find("data-live=\"ended\""), std::string::npos);
    EXPECT_NE(pageText.find("Итог herdtrace"), std::string::npos);
    EXPECT_NE(pageText.find(">Слон 2 — "), std::string::npos);
}

}  // namespace
