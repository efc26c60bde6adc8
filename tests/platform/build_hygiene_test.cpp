// The build compiles every source it is given, and the rooms keep their floors: the board layer at
// the bottom, the foundation above it, the program's composition on top.
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

// The folders above the board layer, and above the foundation.
constexpr const char* kAbovePlatform = "core|scaler|fpga|video_io|protocol|ui|app";
constexpr const char* kAboveCore = "scaler|fpga|video_io|protocol|ui|app";

// "file:line: #include ..." for every include in `dir` (all sub-folders) that reaches one of
// `folders` ("a|b|c").
std::vector<std::string> includesOf(const fs::path& dir, const std::string& folders) {
    const std::regex upper("^\\s*#\\s*include\\s*[\"<](" + folders + ")/");
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
    EXPECT_EQ(includesOf(fs::path(VLX_SOURCE_DIR) / "platform", kAbovePlatform), std::vector<std::string>{});
}

// The one way up left in the foundation: the parameter RAM's two includes of the C331 manager.
TEST_F(BuildHygieneTest, CoreIncludesNothingFromTheLayersAboveIt) {
    std::vector<std::string> found = includesOf(fs::path(VLX_SOURCE_DIR) / "core", kAboveCore);
    const std::regex kKnown(R"(/core/vlxrampara\.cpp:\d+: #include "scaler/(c331_manage|applied_ram)\.h")");
    found.erase(std::remove_if(found.begin(), found.end(), [&](const std::string& f) { return std::regex_search(f, kKnown); }),
                found.end());
    EXPECT_EQ(found, std::vector<std::string>{});
}

TEST_F(BuildHygieneTest, NoRoomBelowTheCompositionIncludesIt) {
    std::vector<std::string> found;
    for (const char* dir : {"platform", "core", "scaler", "fpga", "protocol", "video_io", "ui"}) {
        const auto f = includesOf(fs::path(VLX_SOURCE_DIR) / dir, "app");
        found.insert(found.end(), f.begin(), f.end());
    }
    EXPECT_EQ(found, std::vector<std::string>{});
}

TEST_F(BuildHygieneTest, UpperLayerIncludeInADeepPlatformFolderIsFound) {
    const fs::path models = fs::path(rootDir()) / "platform" / "sim" / "models";
    fs::create_directories(models);
    std::ofstream(models / "flash.cpp") << "#include \"platform/sys.h\"\n  #  include <ui/shell/tip.h>\n";
    std::ofstream(fs::path(rootDir()) / "platform" / "ok.h") << "#include \"platform/platform.h\"\n// core/x.h\n";
    const auto found = includesOf(fs::path(rootDir()) / "platform", kAbovePlatform);
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
    for (const char* dir : {"platform", "core", "scaler", "fpga", "protocol", "video_io", "ui", "app", "tests"}) {
        const auto m = uncompiled(fs::path(VLX_SOURCE_DIR) / dir, built);
        missing.insert(missing.end(), m.begin(), m.end());
    }
    EXPECT_EQ(missing, std::vector<std::string>{});
}

}  // namespace
