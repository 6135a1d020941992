#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>

namespace {

// Rank of each source folder: a file may include its own folder or a lower one;
// commands and report stand side by side and do not include each other.
const std::map<std::string, int> kLayerRank = {{"platform", 0}, {"table", 1},    {"expr", 2},  {"session", 3},
                                               {"commands", 4}, {"report", 4},   {"driver", 5}};

TEST(Layers, IncludesRunFromHigherLayersToLowerOnes) {
    const std::filesystem::path source_root = SOURCE_DIR "/src";
    ASSERT_TRUE(std::filesystem::is_directory(source_root));
    const std::regex include_line(R"(^\s*#\s*include\s*"([a-z_]+)/)");
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(source_root)) {
        if (!entry.is_regular_file()) continue;
        const std::string extension = entry.path().extension().string();
        if (extension != ".h" && extension != ".cpp") continue;
        const std::string folder = entry.path().parent_path().filename().string();
        auto own = kLayerRank.find(folder);
        ASSERT_NE(own, kLayerRank.end()) << "source folder without a layer: " << entry.path();
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch match;
            if (!std::regex_search(line, match, include_line)) continue;
            const std::string target = match[1];
            auto included = kLayerRank.find(target);
            if (included == kLayerRank.end() || target == folder) continue;
            EXPECT_LT(included->second, own->second)
                << entry.path().lexically_relative(source_root).string() << ":" << number << " includes " << target << "/";
        }
    }
    EXPECT_GT(files, 20);
}

// Within a folder, two units (a header and its source) never include each other's
// headers, and no file names one header twice.
TEST(Layers, NoTwoUnitsOfOneFolderIncludeEachOther) {
    const std::filesystem::path source_root = SOURCE_DIR "/src";
    const std::set<std::pair<std::string, std::string>> known = {};
    const std::regex include_line(R"(^\s*#\s*include\s*"([a-z_]+/[a-z_0-9]+)\.h")");
    std::map<std::string, std::set<std::string>> includes;  // unit -> units of its folder
    for (const auto& entry : std::filesystem::recursive_directory_iterator(source_root)) {
        if (!entry.is_regular_file()) continue;
        const std::string folder = entry.path().parent_path().filename().string();
        const std::string unit = folder + "/" + entry.path().stem().string();
        std::ifstream in(entry.path());
        std::set<std::string> seen;
        std::string line;
        for (std::smatch match; std::getline(in, line);) {
            if (!std::regex_search(line, match, include_line)) continue;
            const std::string target = match[1];
            EXPECT_TRUE(seen.insert(target).second) << entry.path().filename() << " includes " << target << ".h twice";
            if (target != unit && target.compare(0, folder.size() + 1, folder + "/") == 0) includes[unit].insert(target);
        }
    }
    for (const auto& [unit, targets] : includes)
        for (const std::string& target : targets)
            if (unit < target && includes[target].count(unit) && !known.count({unit, target}))
                ADD_FAILURE() << unit << " and " << target << " include each other's headers";
}

} // namespace
