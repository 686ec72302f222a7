// The manual pages stay true: every option that a command line's --help names (the tool, each of
// its subcommands and theirs, and the desktop program) stands in the installed page.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace peltorn::test {
namespace {

#ifdef PELTORN_MAN_DIR
std::string PageText(const std::string& page) {
    std::ifstream in(std::string(PELTORN_MAN_DIR) + "/" + page);
    std::stringstream text;
    text << in.rdbuf();
    // The page writes a hyphen as "\-".
    return std::regex_replace(text.str(), std::regex(R"(\\-)"), "-");
}

std::set<std::string> OptionsIn(const std::string& help) {
    std::set<std::string> out;
    const std::regex option(R"((^|[\s,])(--[a-z][a-z-]*))");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
         it != std::sregex_iterator(); ++it)
        out.insert((*it)[2]);
    return out;
}

std::vector<std::string> SubcommandsIn(const std::string& help) {
    std::vector<std::string> out;
    auto at = help.find("Subcommands:\n");
    if (at == std::string::npos) return out;
    std::istringstream lines(help.substr(at));
    std::string line;
    std::getline(lines, line);
    const std::regex entry(R"(^  ([a-z][a-z0-9-]*) )");
    std::smatch m;
    while (std::getline(lines, line))
        if (std::regex_search(line, m, entry)) out.push_back(m[1]);
    return out;
}

// Every option of the command line and of all its subcommands, with where it was found.
void Collect(const std::vector<std::string>& args,
             std::vector<std::pair<std::string, std::string>>& found) {
    auto withHelp = args;
    withHelp.push_back("--help");
    CliResult r = RunCli(withHelp);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    std::string where = "peltorn";
    for (const auto& a : args) where += " " + a;
    for (const auto& option : OptionsIn(r.Out)) found.emplace_back(where, option);
    for (const auto& sub : SubcommandsIn(r.Out)) {
        auto child = args;
        child.push_back(sub);
        Collect(child, found);
        // The page has a section for each subcommand.
        found.emplace_back(where, "SS " + where + " " + sub);
    }
}

TEST(ManPageTest, EveryOptionOfEverySubcommandIsInThePage) {
    const std::string page = PageText("peltorn.1");
    ASSERT_FALSE(page.empty());
    std::vector<std::pair<std::string, std::string>> found;
    Collect({}, found);
    ASSERT_GT(found.size(), 30u);  // every subcommand of db, groups, merge and demo
    for (const auto& [where, option] : found)
        EXPECT_NE(page.find(option), std::string::npos) << option << " of " << where;
    EXPECT_NE(page.find("EXIT STATUS"), std::string::npos);
    EXPECT_NE(page.find("ORVEX.ini"), std::string::npos);
}

#ifdef PELTORN_MERGE_PATH
TEST(ManPageTest, EveryOptionOfTheDesktopProgramIsInItsPage) {
    const std::string page = PageText("peltorn-merge.1");
    TempDir io;
    const std::string out = (io / "help").string();
    ASSERT_EQ(
        std::system(("'" + std::string(PELTORN_MERGE_PATH) + "' --help >'" + out + "'").c_str()),
        0);
    std::ifstream in(out);
    std::stringstream help;
    help << in.rdbuf();
    const auto options = OptionsIn(help.str());
    EXPECT_GE(options.size(), 5u);
    for (const auto& option : options) EXPECT_NE(page.find(option), std::string::npos) << option;
}
#endif
#endif

}  // namespace
}  // namespace peltorn::test
