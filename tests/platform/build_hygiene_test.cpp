// The build compiles every source it is given, the board layer stays the bottom layer and core
// reaches the engines above it only from the program's start-up.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/testkit.h"

namespace fs = std::filesystem;

namespace {

using BuildHygieneTest = testkit::SimBoardTest;

// "file:line: #include ..." for every include in `dir` (all sub-folders) that reaches one of
// `folders` (a regex alternative), by default every folder above the board layer.
std::vector<std::string> upperLayerIncludes(const fs::path& dir,
                                            const std::string& folders = "core|scaler|fpga|video_io|protocol|ui") {
    const std::regex upper(R"(^\s*#\s*include\s*["<]()" + folders + ")/");
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
        std::ifstream in(entry.path());
        std::string line;
        for (int n = 1; std::getline(in, line); ++n)
            if (std::regex_search(line, upper))
                found.push_back(entry.path().string() + ":" + std::to_string(n) + ": " + line);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Sources under `dir` that no target compiles.
std::vector<std::string> uncompiled(const fs::path& dir, const std::set<std::string>& built) {
    std::vector<std::string> out;
    if (!fs::exists(dir)) return out;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".cpp" && !built.count(entry.path().string()))
            out.push_back(entry.path().string());
    return out;
}

TEST_F(BuildHygieneTest, PlatformIncludesNothingFromTheLayersAboveIt) {
    EXPECT_EQ(upperLayerIncludes(fs::path(VLX_SOURCE_DIR) / "platform"), std::vector<std::string>{});
}

TEST_F(BuildHygieneTest, CoreIncludesNoEngineButInTheProgramsStartUp) {
    std::vector<std::string> found = upperLayerIncludes(fs::path(VLX_SOURCE_DIR) / "core", "scaler|fpga|video_io|protocol");
    const std::string startUp = (fs::path(VLX_SOURCE_DIR) / "core" / "main.cpp:").string();
    found.erase(std::remove_if(found.begin(), found.end(), [&](const std::string& f) { return f.rfind(startUp, 0) == 0; }),
                found.end());
    EXPECT_EQ(found, std::vector<std::string>{});
}

TEST_F(BuildHygieneTest, UpperLayerIncludeInADeepPlatformFolderIsFound) {
    const fs::path models = fs::path(rootDir()) / "platform" / "sim" / "models";
    fs::create_directories(models);
    std::ofstream(models / "flash.cpp") << "#include \"platform/sys.h\"\n  #  include <ui/shell/tip.h>\n";
    std::ofstream(fs::path(rootDir()) / "platform" / "ok.h") << "#include \"platform/platform.h\"\n// core/x.h\n";
    const auto found = upperLayerIncludes(fs::path(rootDir()) / "platform");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("flash.cpp:2:"), std::string::npos);
}

TEST_F(BuildHygieneTest, EverySourceInEverySubFolderIsCompiled) {
    std::ifstream list(VLX_BUILT_SOURCES_FILE);
    ASSERT_TRUE(list.good());
    std::set<std::string> built;
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) built.insert(fs::path(line).lexically_normal().string());
    // this file itself sits one folder down in tests/, the board-control tests two
    // (named from the source folder: a compiler cache with a base folder makes __FILE__ relative)
    ASSERT_TRUE(built.count((fs::path(VLX_SOURCE_DIR) / "tests/platform/build_hygiene_test.cpp").lexically_normal().string()));
    std::vector<std::string> missing;
    for (const char* dir : {"platform", "core", "scaler", "fpga", "protocol", "video_io", "ui", "tests"}) {
        const auto m = uncompiled(fs::path(VLX_SOURCE_DIR) / dir, built);
        missing.insert(missing.end(), m.begin(), m.end());
    }
    EXPECT_EQ(missing, std::vector<std::string>{});
}

}  // namespace
