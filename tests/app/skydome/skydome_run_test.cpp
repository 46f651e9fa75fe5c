// The skydome program run whole: options, and the picture of its last frame
// written with --screenshot.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/skydome/options.h"

namespace kv {
namespace {

struct RunResult {
    int status;
    std::string output;  // stdout and stderr together
};

RunResult RunSkydome(const std::string& arguments) {
    const std::string command = std::string("'") + KV_SKYDOME_PROGRAM + "' " + arguments + " 2>&1";
    RunResult run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) run.output += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

struct Picture {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

Picture ReadPng(const std::string& file) {
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return p;
    image.format = PNG_FORMAT_RGB;
    p.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr) == 0) return p;
    p.ok = true;
    p.width = static_cast<int>(image.width);
    p.height = static_cast<int>(image.height);
    return p;
}

TEST(SkydomeRun, ScreenshotOfTheLastFrameIsTheClearedPicture) {
    const std::string file = "skydome_run_out.png";
    std::remove(file.c_str());
    const RunResult run = RunSkydome("-vms --frames 3 --screenshot " + file);
    ASSERT_EQ(run.status, 0) << run.output;
    const Picture p = ReadPng(file);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
    std::size_t other = 0;
    for (std::size_t i = 0; i < p.rgb.size(); ++i) other += p.rgb[i] != 64 ? 1 : 0;
    EXPECT_EQ(other, 0u);
    std::remove(file.c_str());
}

TEST(SkydomeRun, BadOptionsAreRefusedWithAMessage) {
    RunResult run = RunSkydome("--frames");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("--frames needs"), std::string::npos) << run.output;
    run = RunSkydome("--colour red");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("unknown option --colour"), std::string::npos) << run.output;
    run = RunSkydome("-vms --screenshot x.png");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("--screenshot needs --frames"), std::string::npos) << run.output;
    run = RunSkydome("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("--screenshot FILE"), std::string::npos) << run.output;
}

TEST(SkydomeRun, UnwritableScreenshotFailsTheRun) {
    const RunResult run = RunSkydome("-vms --frames 1 --screenshot no/such/folder/out.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot write the screenshot"), std::string::npos) << run.output;
}

TEST(SkydomeOptions, ScreenshotNeedsAFileAndFrames) {
    auto parse = [](std::vector<const char*> argv, SkydomeOptions* o, std::string* error) {
        std::vector<char*> args;
        for (const char* a : argv) args.push_back(const_cast<char*>(a));
        return SkydomeParseOptions(args, o, error);
    };
    SkydomeOptions o;
    std::string error;
    EXPECT_TRUE(parse({"skydome", "--frames", "2", "--screenshot", "a.png", "-vms"}, &o, &error));
    EXPECT_EQ(o.screenshot, "a.png");
    EXPECT_EQ(o.frames, 2);
    SkydomeOptions none;
    EXPECT_FALSE(parse({"skydome", "--frames", "2", "--screenshot"}, &none, &error));
    EXPECT_FALSE(parse({"skydome", "--frames", "0", "--screenshot", "a.png"}, &none, &error));
    // Asking for help is never an error.
    SkydomeOptions help;
    EXPECT_TRUE(parse({"skydome", "--screenshot", "a.png", "--help"}, &help, &error));
}

}  // namespace
}  // namespace kv
