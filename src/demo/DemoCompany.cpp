// The rows of one demo company database: the entry points that fill a source company and a
// consolidated one, and the rules every part of the demo shares about who an employee is (the
// number, the currency, the one who left, those who work for two companies) and what a currency's
// rate is in a month. The employees and their payroll are written by DemoPayroll.cpp, the
// parameter, report and general-ledger tables by DemoParameters.cpp; tables that neither fills get
// a few plain rows here, and the period tables of a free-table source are encrypted last.
#include "demo/DemoCompany.h"

#include "demo/DemoCompanyParts.h"
#include "signon/Credentials.h"

#include <algorithm>
#include <cstdio>

namespace peltorn::demo {

using db::TDbConnection;
using db::TDbTable;

namespace {

const std::vector<std::string> kEncryptedPeriodTables = {
    "P_HTRX",   "P_DTRXAW", "P_DTRXAS", "P_DTRXNH", "P_DTRXND", "P_DTRXSF",
    "P_DTRXLV", "P_DTRXOT", "P_DTRXRD", "YTDEMPL",  "BANKTRX"};

// Tables of the database that the payroll and parameter writers left empty (a table added to the
// catalogue later) get a few plain rows, so that every table the merge reads holds data.
void FillEmptyTables(TDbConnection& conn, int year) {
    for (const auto& table : db::ListTables(conn)) {
        {
            TDbTable probe(table);
            probe.SetConnection(&conn);
            probe.SetTableName(table);
            probe.Open();
            if (probe.RecordCount() > 0) continue;
        }
        TTableWriter t(conn, table, year);
        for (int i = 0; i < 3; ++i) t.Row(true).Post();
    }
}

}  // namespace

TDemoRandom::TDemoRandom(std::uint64_t seed, std::uint64_t a, std::uint64_t b, std::uint64_t c)
    : m_state(seed * 0x9E3779B97F4A7C15ULL) {
    for (std::uint64_t key : {a, b, c}) {
        m_state ^= key + 0x632BE59BD9B4E019ULL;
        Next();
    }
}

std::uint64_t TDemoRandom::Next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int TDemoRandom::Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
int TDemoRandom::Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
bool TDemoRandom::Chance(int percent) { return Below(100) < percent; }

namespace {
int SharedBlock(const TDemoOptions& options) { return std::max(1, options.Employees / 10); }
}  // namespace

bool SharedWithPrevious(int companyIndex, int index, const TDemoOptions& options) {
    if (companyIndex == 0 || IsStoppedEmployee(index, options)) return false;
    const int block = SharedBlock(options);
    return index >= (companyIndex - 1) * block && index < companyIndex * block;
}

bool IsStoppedEmployee(int index, const TDemoOptions& options) {
    return options.Employees >= 2 && index == options.Employees - 1;
}

std::string EmployeeCode(const TSourceCompany& company, int index, const TDemoOptions& options) {
    int number =
        SharedWithPrevious(company.Index, index, options) ? company.Index : company.Index + 1;
    char code[16];
    std::snprintf(code, sizeof code, "E%02d%05d", number, index + 1);
    return code;
}

std::string EmployeeCurrency(int index) {
    if (index % 10 == 3) return "SGD";
    if (index % 10 == 7) return "USD";
    return kStdCurr;
}

double DemoRate(const std::string& currency, int month) {
    if (currency == "SGD") return 3.05 + 0.01 * month;
    if (currency == "USD") return 4.40 + 0.015 * month;
    return 1.0;
}

const std::vector<std::string>& EncryptedPeriodTables() { return kEncryptedPeriodTables; }

void FillSourceCompany(TDbConnection& conn, const TSourceCompany& company,
                       const TDemoOptions& options) {
    std::vector<TEmployee> staff;
    staff.reserve(static_cast<std::size_t>(options.Employees));
    for (int i = 0; i < options.Employees; ++i) staff.push_back(MakeEmployee(company, i, options));

    {
        // The company's own name and currency beside the version mark.
        TDbTable para("PAYPARA");
        para.SetConnection(&conn);
        para.SetTableName("PAYPARA");
        para.Open();
        para.First();
        para.Edit();
        para.FieldByName("COMPANY_NAME").SetAsString(company.Name);
        para.FieldByName("CURR_CODE").SetAsString(kStdCurr);
        para.Post();
    }
    WriteMasters(conn, staff, options);
    WriteParameterTables(conn, company, options);
    WritePayroll(conn, company, staff, options);
    FillEmptyTables(conn, options.Year);
    db::FlushPendingWrites();
    if (!company.Dictionary) {
        for (const auto& table : kEncryptedPeriodTables) {
            TDbTable t("encrypt");
            t.SetConnection(&conn);
            t.SetTableName(table);
            t.SetExclusive(true);
            t.Open();
            t.EnableEncryption(signon::kFreeTablePassword);
            t.EncryptTable();
            t.Close();
        }
    }
}

}  // namespace peltorn::demo
