// The demo installation. One folder holds two installations that share their source companies,
// one for each layout of company databases, because the layout ([PATH] DICTIONARY) is a single
// setting of a whole installation and a consolidated database is always found by that setting:
//
//   DIR/ORVEX.ini                      DICTIONARY empty: companies are folders of free tables
//   DIR/MCOMPANY.ADT, MERGRHD.ADT, MERGEDTL.ADT       main database of the free-table layout
//   DIR/COMPANY/CO01 .. CO(n-1)        source companies, folders of free tables; their period
//                                      tables (P_HTRX, P_DTRX*, YTDEMPL, BANKTRX) encrypted with
//                                      the free-table password
//   DIR/COMPANY/#GRP1, #GRP2           consolidated companies, folders of free tables
//   DIR/dictionary-layout/ORVEX.ini    DICTIONARY=YES: companies are data dictionaries
//   DIR/dictionary-layout/MCOMPANY.ADT, MERGRHD.ADT, MERGEDTL.ADT
//   DIR/dictionary-layout/COMPANY/COn/COn.ADD          the last source company, a dictionary
//   DIR/dictionary-layout/COMPANY/#GRPD/#GRPD.ADD      consolidated company, a dictionary
//
// Merge groups (MERGRHD / MERGEDTL):
//   free-table layout   NO 1 #GRP1 (selected "T"): CO01 .. CO(n-1) by code, COn by PATH (.ADD)
//                       NO 2 #GRP2 (not selected): CO02 by code, COn by PATH (.ADD)
//   dictionary layout   NO 1 #GRPD (selected "T"): CO01 by PATH (its folder), COn by code
// So every group reaches a source of the other layout through MERGEDTL.PATH.
//
// Every database carries the version mark "@2019" in PAYPARA, so the sign-on gives ADSSYS the
// administrator password; the dictionaries' users are those CreateCompanyDatabase gives them.
//
// Each source company: n employees, the last of whom has left (STOP_IND "E", paid up to the
// current month); every tenth from the fourth on paid in SGD, from the eighth on in USD, the rest
// in MYR; a block of employees shared with the company before it (the same employee numbers);
// twelve months of payroll of the year (P_HTRX with the eight detail tables, YTDEMPL, BANKTRX
// with and without "TT" rows, COSTCTR, MEDICAL with PERIOD_TO_TRANSFER), the leave tables,
// exchange rates of SGD, USD and MYR into MYR for every month, allowance codes of every class
// (statutory PCB and ZAKAT with AMOUNT2, BONUS, "@$" credits, "$" deductions, ordinary
// allowances, a memo code with is_absent "X", and a code of the company's own), report columns
// and a report layout, the year parameters (last year locked, this year open), the PPARA tables
// and the general-ledger tables. See DemoPayroll.cpp for how the amounts hang together.
#include "demo/Demo.h"

#include "demo/DemoCompany.h"
#include "schema/MakeDatabases.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "support/StrUtil.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace peltorn::demo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSettingsFileName = "ORVEX.ini";
constexpr const char* kDictionaryBase = "dictionary-layout";
constexpr const char* kCompanyFolder = "COMPANY";
constexpr const char* kVersionMark = "@2019";
constexpr const char* kDictionaryYes = "YES";
constexpr const char* kSelected = "T";
constexpr const char* kNotSelected = "N";
constexpr int kPathWidth = 150;  // MERGEDTL.PATH

struct TGroupSource {
    std::string Code;
    std::string Path;  // empty: formed from the code by the installation's layout
};
struct TGroup {
    int No = 0;
    std::string Code;
    std::string Name;
    std::string Master;
    std::vector<TGroupSource> Sources;
};
// One installation of the folder: its base folder, layout and merge groups.
struct TBase {
    fs::path Folder;
    bool Dictionary = false;
    std::vector<TGroup> Groups;
};

// The folder of free tables of a company, or the dictionary file, as the layout places it.
fs::path CompanyPath(const fs::path& base, const std::string& code, bool dictionary) {
    fs::path folder = base / kCompanyFolder / code;
    return dictionary ? folder / (code + ".ADD") : folder;
}

std::string CompanyName(int index) {
    static const char* const kNames[] = {"Orvex Trading Sdn Bhd", "Orvex Logistics Sdn Bhd",
                                         "Orvex Engineering Sdn Bhd", "Orvex Retail Sdn Bhd",
                                         "Orvex Services Sdn Bhd"};
    std::string name = kNames[index % 5];
    if (index >= 5) name += " " + std::to_string(index / 5 + 1);
    return name;
}

std::vector<TSourceCompany> SourceCompanies(const TDemoOptions& options) {
    std::vector<TSourceCompany> companies;
    for (int i = 0; i < options.Companies; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "CO%02d", i + 1);
        companies.push_back({i, code, CompanyName(i), i == options.Companies - 1});
    }
    return companies;
}

void CheckOptions(const TDemoOptions& o) {
    if (o.Companies < 3 || o.Companies > 99)
        throw std::invalid_argument("The demo installation needs 3 to 99 source companies, not " +
                                    std::to_string(o.Companies));
    if (o.Employees < 1 || o.Employees > 99999)
        throw std::invalid_argument(
            "The demo installation needs 1 to 99999 employees per company, not " +
            std::to_string(o.Employees));
    if (o.Year < 1900 || o.Year > 9999)
        throw std::invalid_argument("Invalid year for the demo installation: " +
                                    std::to_string(o.Year));
    if (o.Month < 1 || o.Month > 12)
        throw std::invalid_argument("Invalid month for the demo installation: " +
                                    std::to_string(o.Month));
}

// The connection to a company database: free tables need no sign-on, a dictionary takes ADSSYS
// with the password of the version mark.
void ConnectCompany(db::TDbConnection& conn, const fs::path& path) {
    conn.Disconnect();
    conn.SetConnectPath(path.string());
    conn.Username = signon::kAdminUser;
    conn.Password = signon::AdminPasswordForMark(std::string(kVersionMark));
    conn.Connect();
}

void WriteSettingsFile(const fs::path& base, bool dictionary) {
    fs::path file = base / kSettingsFileName;
    std::ofstream out(file, std::ios::binary);
    // DIR ends with a separator: the free-table layout joins "COMPANY\" straight onto it.
    std::string dir = base.string();
    if (dir.empty() || dir.back() != fs::path::preferred_separator)
        dir += fs::path::preferred_separator;
    out << "[PATH]\r\n"
        << "DICTIONARY=" << (dictionary ? kDictionaryYes : "") << "\r\n"
        << "DIR=" << dir << "\r\n"
        << "[SETTING]\r\n"
        << "SERVERTYPE=\r\n";
    if (!out) throw std::runtime_error("Cannot write the settings file " + file.string());
}

// MCOMPANY with the companies the groups name, MERGRHD and MERGEDTL with the groups.
void WriteMainDatabase(const TBase& base, const std::vector<TSourceCompany>& sources) {
    schema::CreateMainDatabase(base.Folder.string());
    db::TDbConnection conn("demoMain");
    conn.SetConnectPath(base.Folder.string());
    conn.Connect();
    {
        db::TDbTable company("MCOMPANY");
        company.SetConnection(&conn);
        company.SetTableName("MCOMPANY");
        company.Open();
        auto add = [&](const std::string& code, const std::string& name) {
            company.Append();
            company.FieldByName("COMPANY_CODE").SetAsString(code);
            company.FieldByName("COMPANY_NAME").SetAsString(name);
            company.Post();
        };
        for (const auto& g : base.Groups) add(g.Code, g.Name);
        for (const auto& s : sources) add(s.Code, s.Name);
    }
    db::TDbTable header("MERGRHD"), detail("MERGEDTL");
    header.SetConnection(&conn);
    header.SetTableName("MERGRHD");
    header.Open();
    detail.SetConnection(&conn);
    detail.SetTableName("MERGEDTL");
    detail.Open();
    for (const auto& g : base.Groups) {
        header.Append();
        header.FieldByName("NO").SetAsInteger(g.No);
        header.FieldByName("CODE").SetAsString(g.Code);
        header.FieldByName("MASTER").SetAsString(g.Master);
        header.Post();
        for (const auto& s : g.Sources) {
            if (static_cast<int>(s.Path.size()) > kPathWidth)
                throw std::invalid_argument(
                    "The path " + s.Path + " is longer than the " + std::to_string(kPathWidth) +
                    " characters MERGEDTL.PATH holds; choose a shorter folder");
            detail.Append();
            detail.FieldByName("NO").SetAsInteger(g.No);
            detail.FieldByName("CODE").SetAsString(s.Code);
            detail.FieldByName("PATH").SetAsString(s.Path);
            detail.Post();
        }
    }
}

std::vector<TBase> PlanInstallation(const fs::path& dir,
                                    const std::vector<TSourceCompany>& sources) {
    const TSourceCompany& dictionarySource = sources.back();
    const fs::path dictionaryBase = dir / kDictionaryBase;
    const std::string dictionaryPath =
        CompanyPath(dictionaryBase, dictionarySource.Code, true).string();
    const std::string firstFolder = CompanyPath(dir, sources.front().Code, false).string();

    TBase free{dir, false, {}};
    TGroup all{1, "#GRP1", "Orvex Group (consolidated)", kSelected, {}};
    for (const auto& s : sources)
        all.Sources.push_back({s.Code, s.Dictionary ? dictionaryPath : ""});
    TGroup pair{2,
                "#GRP2",
                "Orvex Northern Region (consolidated)",
                kNotSelected,
                {{sources[1].Code, ""}, {dictionarySource.Code, dictionaryPath}}};
    free.Groups = {all, pair};

    TBase dictionary{dictionaryBase, true, {}};
    dictionary.Groups = {{1,
                          "#GRPD",
                          "Orvex Holdings (consolidated)",
                          kSelected,
                          {{sources.front().Code, firstFolder}, {dictionarySource.Code, ""}}}};
    return {free, dictionary};
}

// The base folders of the two layouts, as their settings files name them (with a trailing
// separator), the free-table layout first.
std::vector<std::pair<std::string, bool>> DemoBases(const std::string& dir) {
    std::vector<std::pair<std::string, bool>> bases;
    for (const auto& settings : DemoSettingsFiles(dir)) {
        if (!fs::exists(settings))
            throw std::runtime_error("Settings file " + settings + " not found");
        bases.emplace_back(
            fs::path(settings).parent_path().string() + fs::path::preferred_separator,
            bases.size() == 1);
    }
    return bases;
}

}  // namespace

TDemoOptions DemoOptionsForToday() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    TDemoOptions options;
    options.Year = local.tm_year + 1900;
    options.Month = local.tm_mon + 1;
    return options;
}

std::string DemoPeriod(const TDemoOptions& options) {
    const TDemoOptions today = DemoOptionsForToday();
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d", options.Year ? options.Year : today.Year,
                  options.Month ? options.Month : today.Month);
    return text;
}

std::vector<std::string> DemoSettingsFiles(const std::string& dir) {
    fs::path base = fs::absolute(dir);
    return {(base / kSettingsFileName).string(),
            (base / kDictionaryBase / kSettingsFileName).string()};
}

void WriteDemoInstallation(const std::string& dirText, const TDemoOptions& requested) {
    TDemoOptions options = requested;
    const TDemoOptions today = DemoOptionsForToday();
    if (options.Year == 0) options.Year = today.Year;
    if (options.Month == 0) options.Month = today.Month;
    CheckOptions(options);
    const fs::path dir = fs::absolute(dirText).lexically_normal();
    if (fs::exists(dir / kSettingsFileName))
        throw std::runtime_error("The folder " + dir.string() + " already holds an installation (" +
                                 kSettingsFileName + ")");
    const auto sources = SourceCompanies(options);
    const auto bases = PlanInstallation(dir, sources);

    for (const auto& base : bases) {
        fs::create_directories(base.Folder / kCompanyFolder);
        WriteMainDatabase(base, sources);
    }
    db::TDbConnection conn("demoCompany");
    for (const auto& s : sources) {
        const fs::path path =
            CompanyPath(s.Dictionary ? bases[1].Folder : bases[0].Folder, s.Code, s.Dictionary);
        fs::create_directories(s.Dictionary ? path.parent_path() : path);
        schema::CreateCompanyDatabase(path.string(), kVersionMark);
        ConnectCompany(conn, path);
        FillSourceCompany(conn, s, options);
        conn.Disconnect();
    }
    for (const auto& base : bases)
        for (const auto& g : base.Groups) {
            const fs::path path = CompanyPath(base.Folder, g.Code, base.Dictionary);
            fs::create_directories(base.Dictionary ? path.parent_path() : path);
            schema::CreateCompanyDatabase(path.string(), kVersionMark);
            ConnectCompany(conn, path);
            FillDestinationCompany(conn, options);
            conn.Disconnect();
        }
    db::FlushPendingWrites();
    // The settings files last: a folder with ORVEX.ini holds a complete installation.
    WriteSettingsFile(bases[1].Folder, true);
    WriteSettingsFile(bases[0].Folder, false);
}

std::vector<TDemoDatabaseSummary> SummariseDemoDestinations(const std::string& dir) {
    std::vector<TDemoDatabaseSummary> result;
    for (const auto& [base, dictionary] : DemoBases(dir)) {
        db::TDbConnection mainConn("summaryMain");
        mainConn.SetConnectPath(base);
        db::TDbTable groups("MERGRHD");
        groups.SetConnection(&mainConn);
        groups.SetTableName("MERGRHD");
        groups.SetIndexFieldNames("NO");
        groups.Open();
        for (groups.First(); !groups.Eof(); groups.Next()) {
            const std::string code = support::TrimSpaces(groups.FieldByName("CODE").AsString());
            TDemoDatabaseSummary summary;
            summary.Code = code;
            // The destination paths exactly as the merge forms them.
            summary.Path = dictionary ? base + "\\COMPANY\\" + code + "\\" + code + ".ADD"
                                      : base + "COMPANY\\" + code;
            db::TDbConnection conn("summaryCompany");
            conn.SetConnectPath(summary.Path);
            db::TDbTable para("PAYPARA");
            para.SetConnection(&conn);
            std::string password;
            signon::SelectAdminLogin(conn, para, "T", password);
            para.Close();
            conn.Password = password;
            conn.Connect();
            for (const auto& table : db::ListTables(conn)) {
                db::TDbTable t(table);
                t.SetConnection(&conn);
                t.SetTableName(table);
                t.EncryptionPassword = signon::kFreeTablePassword;
                t.Open();
                summary.Tables.push_back({table, t.RecordCount()});
            }
            conn.Disconnect();
            result.push_back(std::move(summary));
        }
    }
    return result;
}

}  // namespace peltorn::demo
