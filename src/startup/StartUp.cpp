// Start-up of the main window (FormCreate), in the order the window has always followed:
//
//   StdCurr, caption, start credentials, "Process" page
//   -> settings file (DICTIONARY, SERVERTYPE, DIR) -> BaseFolder
//   -> DatabaseMain connected on BaseFolder
//   -> "MERGRHD.ADT" looked for in the program folder; the set-up tables made when it is missing
//   -> MCOMPANY (twice), MERGRHD, MERGEDTL opened
//   -> period list of today's year, current month selected
//
// A failure stops the sequence where it happens and is shown by the standard error report; the
// window then opens as far as it was set up (no main database: no table open, no period list).
#include "startup/StartUp.h"

#include "setup/SetupPage.h"
#include "signon/Credentials.h"
#include "startup/MERGEMAKEDB.h"
#include "support/DateUtil.h"

// Only the narrow-character reader is needed: the settings file is read as bytes.
#define SI_NO_CONVERSION
// The template's member definitions are compiled here rather than taken from the shared library.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <set>
#include <stdexcept>

namespace peltorn {

namespace {

constexpr const char* kSectionPath = "PATH";
constexpr const char* kSectionSetting = "SETTING";
constexpr const char* kSectionMerge = "MERGE";
constexpr const char* kKeySnapshots = "SNAPSHOTS";
constexpr const char* kKeyDictionary = "DICTIONARY";
constexpr const char* kKeyServerType = "SERVERTYPE";
constexpr const char* kKeyDir = "DIR";
constexpr const char* kServerTypeRemote = "REMOTE";
// The file whose presence in the program folder tells that the set-up tables exist.
constexpr const char* kMergeHeaderFile = "MERGRHD.ADT";

constexpr const char* kMCompany = "MCOMPANY";
constexpr const char* kMCompanyIndex = "COMPANY_CODE";
constexpr const char* kMergeHeader = "MERGRHD";
constexpr const char* kMergeHeaderIndex = "NO";
constexpr const char* kMergeDetail = "MERGEDTL";
constexpr const char* kMergeDetailIndex = "NO;CODE";

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string WithTrailingSeparator(std::string folder) {
    if (folder.empty() || !IsSeparator(folder.back())) folder += '/';
    return folder;
}

void OpenTable(db::TDbTable& table, const char* tableName, const char* index) {
    table.Close();
    table.SetTableName(tableName);
    table.SetIndexFieldNames(index);
    table.Open();
}

}  // namespace

std::string FindFileNoCase(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path exact(db::NormalizePath(path));
    if (fs::exists(exact, ec)) return path;
    const fs::path folder = exact.has_parent_path() ? exact.parent_path() : fs::path(".");
    const std::string wanted = exact.filename().string();
    auto upper = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    };
    // Of several spellings the first in name order, so that every start finds the same file.
    std::string found;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (upper(name) == upper(wanted) && (found.empty() || name < found)) found = name;
    }
    if (found.empty()) return {};
    return FolderOf(path) + found;
}

std::string FolderOf(const std::string& path) {
    auto pos = path.find_last_of("/\\");
    if (pos == std::string::npos) return "./";
    return path.substr(0, pos + 1);
}

bool IsSystemFolder(const std::string& folder) {
    std::string f = db::NormalizePath(folder);
    for (const char* system : {"/usr", "/bin", "/sbin", "/opt", "/lib", "/etc"}) {
        const std::string s = system;
        if (f == s || f.rfind(s + "/", 0) == 0) return true;
    }
    return false;
}

std::string InstalledSettingsFile(const std::string& programFolder, const std::string& configHome,
                                  const std::string& etcFolder) {
    if (!IsSystemFolder(programFolder)) return {};
    std::error_code ec;
    if (std::filesystem::exists(FindFileNoCase(programFolder + "/" + kSettingsFileName), ec))
        return {};
    for (const std::string& folder :
         {configHome.empty() ? std::string() : configHome + "/peltorn", etcFolder}) {
        if (folder.empty()) continue;
        std::string file = FindFileNoCase(folder + "/" + kSettingsFileName);
        if (std::filesystem::is_regular_file(file, ec)) return file;
    }
    return {};
}

TStartOptions StartOptionsFor(const std::string& programPath, const std::string& iniOption) {
    TStartOptions options;
    if (!iniOption.empty()) {
        options.IniFile = iniOption;
        return options;
    }
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::string program = ec ? programPath : self.string();
    options.ProgramFolder = FolderOf(program);
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        configHome = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        configHome = std::string(home) + "/.config";
    std::string installed =
        InstalledSettingsFile(options.ProgramFolder, configHome, "/etc/peltorn");
    if (!installed.empty()) {
        // Its folder plays the program folder's role, as for --ini.
        options.IniFile = installed;
        options.ProgramFolder.clear();
    }
    return options;
}

db::TDateTime LocalToday() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return db::EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

TSettings ReadSettingsFile(const std::string& iniFile) {
    // Windows rules: names without case (CSimpleIniA compares them so), no multi-line values, one
    // pair of double quotes around a whole value dropped (quotes inside it kept), and with
    // repeated keys the first one is the one read.
    CSimpleIniA ini(/*isUtf8=*/false, /*multiKey=*/true, /*multiLine=*/false);
    ini.SetQuotes(true);
    TSettings settings;
    if (ini.LoadFile(db::NormalizePath(iniFile).c_str()) < 0) return settings;  // all empty
    auto value = [&ini](const char* section, const char* key) {
        return std::string(ini.GetValue(section, key, ""));
    };
    settings.Dictionary = value(kSectionPath, kKeyDictionary);
    settings.ServerType = value(kSectionSetting, kKeyServerType);
    settings.Dir = value(kSectionPath, kKeyDir);
    settings.Snapshots = value(kSectionMerge, kKeySnapshots);
    return settings;
}

std::string ReadSettings(TFormMerge& form, const std::string& iniFile) {
    TSettings settings = ReadSettingsFile(iniFile);
    form.DictionarySetting = settings.Dictionary;
    form.SnapshotFolder = settings.Snapshots;
    if (settings.ServerType == kServerTypeRemote) {
        const std::set<db::TServerType> remoteOnly{db::TServerType::stREMOTE};
        form.DatabaseMain.ServerTypes = remoteOnly;
        form.dbDest.ServerTypes = remoteOnly;
        form.dbSource.ServerTypes = remoteOnly;
    }
    return settings.Dir;
}

void BuildPeriodList(TFormMerge& form, db::TDateTime today) {
    auto& controls = form.Controls;
    controls.EditPeriodItems.clear();
    const std::string year = std::to_string(support::YearOfDate(today));
    for (int month = 1; month <= 12; ++month) {
        std::string period = year + (month <= 9 ? "0" : "") + std::to_string(month);
        controls.EditPeriodItems.push_back(period + '\t' + period);
    }
    controls.EditPeriodItemIndex = support::MonthOfDate(today) - 1;
    const std::string& item = controls.EditPeriodItems[controls.EditPeriodItemIndex];
    controls.EditPeriod = item.substr(0, item.find('\t'));
}

void FormCreate(TFormMerge& form, const TStartOptions& options) {
    form.StdCurr = kStandardCurrency;
    form.Controls.Caption = kApplicationTitle;
    form.dbSource.Username = signon::kAdminUser;
    form.dbDest.Username = signon::kAdminUser;
    form.dbDest.Password = signon::kAdminPassword;
    form.dbSource.Password = signon::kAdminPassword;
    form.Controls.ActivePage = 0;

    if (!options.ProgramFolder.empty()) {
        form.ProgramFolder = WithTrailingSeparator(options.ProgramFolder);
    } else if (!options.IniFile.empty()) {
        form.ProgramFolder = FolderOf(options.IniFile);
    } else {
        form.ProgramFolder = "./";
    }
    // The settings file lies in the program folder, whatever DIR says, and is found there in
    // any letter case, as the file system of the installations finds it.
    form.SettingsFile =
        options.IniFile.empty() ? form.ProgramFolder + kSettingsFileName : options.IniFile;
    const std::string settingsFound = FindFileNoCase(form.SettingsFile);
    if (!settingsFound.empty()) form.SettingsFile = settingsFound;

    setup::InstallSetupHandlers(form);

    try {
        // A settings file named on the command line that is not there is a mistake to report: read
        // as empty, it would make its folder the base folder and merge whatever lies there.
        if (!options.IniFile.empty() && settingsFound.empty())
            throw std::runtime_error(kSettingsNotFound + options.IniFile);
        form.DbSettings1.Apply();
        const std::string dir = ReadSettings(form, form.SettingsFile);
        // Taken exactly as written: the path rules of the run join "COMPANY\" straight onto it.
        form.BaseFolder = dir.empty() ? form.ProgramFolder : dir;

        form.DatabaseMain.Disconnect();
        form.DatabaseMain.SetConnectPath(form.BaseFolder);
        form.DatabaseMain.Connect();

        // Deliberately the program folder, not BaseFolder: installations keep their set-up
        // tables beside the program, and a main database elsewhere gets them made there.
        const std::string marker = form.ProgramFolder + "\\" + kMergeHeaderFile;
        if (!std::filesystem::exists(db::NormalizePath(marker))) MakeMergeTables(form.BaseFolder);

        OpenTable(form.TableMCompany, kMCompany, kMCompanyIndex);
        OpenTable(form.TableMCompany1, kMCompany, kMCompanyIndex);
        OpenTable(form.TableMerge, kMergeHeader, kMergeHeaderIndex);
        OpenTable(form.TableMergeDTL, kMergeDetail, kMergeDetailIndex);

        BuildPeriodList(form, options.Today ? options.Today() : LocalToday());
    } catch (const std::exception& e) {
        form.Operator().ReportError(e.what());
    }
}

}  // namespace peltorn
