// Construction of the main window's components: which connection each table and query is bound
// to, the table names and index orders they are declared with, and the after-open handler that
// gives the destination's payroll tables the free-table password.
#include "startup/FormMerge.h"

#include "signon/Credentials.h"

namespace peltorn {

namespace {

struct TableDecl {
    db::TDbTable TFormMerge::*Table;
    db::TDbConnection TFormMerge::*Connection;
    const char* TableName;
    const char* IndexFieldNames;
};

}  // namespace

void TCommittingOperator::Inform(const std::string& text) {
    if (OnShown) OnShown(text);
    db::FlushPendingWrites();
    m_target->Inform(text);
}

bool TCommittingOperator::Ask(const std::string& question) {
    if (OnShown) OnShown(question);
    db::FlushPendingWrites();
    return m_target->Ask(question);
}

// The error report itself must reach the operator: a commit that fails on the way is added to
// its text instead of replacing it.
void TCommittingOperator::ReportError(const std::string& text) {
    try {
        db::FlushPendingWrites();
    } catch (const std::exception& e) {
        if (OnShown) OnShown(text + "; " + e.what());
        m_target->ReportError(text + "; " + e.what());
        return;
    }
    if (OnShown) OnShown(text);
    m_target->ReportError(text);
}

// The progress window asks its question ("Terminate processing ?") through the committing
// operator too; it is only pointed at here and used once the window is fully made.
TFormMerge::TFormMerge(support::IOperator& op) : m_operator(&op), FormMsg(m_committing) {
    BindComponents();
    m_committing.OnShown = [this](const std::string& text) { AccountMessage(text); };
}

void TFormMerge::AccountRunLog() {
    // A run log emptied (a new run) starts the count again.
    if (Controls.Memo1.size() < m_memoAccounted) m_memoAccounted = 0;
    Account.NoteRunLog(Controls.Memo1, m_memoAccounted, std::chrono::system_clock::now());
    m_memoAccounted = Controls.Memo1.size();
}

void TFormMerge::AccountMessage(const std::string& text) {
    AccountRunLog();
    Account.NoteMessage(text, std::chrono::system_clock::now());
}

void TFormMerge::Stage(const char* stage) {
    if (run::TGroupAccount* group = GroupBeingMerged()) {
        const auto now = std::chrono::steady_clock::now();
        if (!group->Stages.empty() && group->Stages.back().ElapsedS < 0)
            group->Stages.back().ElapsedS =
                std::chrono::duration<double>(now - m_stageStarted).count();
        if (*stage) group->Stages.push_back({stage, -1});
        m_stageStarted = now;
    }
    if (OnStage) OnStage(stage);
}

void TFormMerge::SetOperator(support::IOperator& op) { m_operator = &op; }

// The after-open handler of the destination's payroll tables and of TableEmp: on a folder of
// free tables their records are encrypted with the free-table password, which is enabled as soon
// as the table is open, so that every later step reads and writes them.
static void P_DTRXAWAfterOpen(db::TDataSet& dataset) {
    auto& table = static_cast<db::TDbTable&>(dataset);
    if (!table.Connection()->IsDictionaryConn()) {
        table.EnableEncryption(signon::kFreeTablePassword);
    }
}

void TFormMerge::BindComponents() {
    static const TableDecl kTables[] = {
        {&TFormMerge::TableMCompany, &TFormMerge::DatabaseMain, "MCOMPANY", "COMPANY_CODE"},
        {&TFormMerge::TableMCompany1, &TFormMerge::DatabaseMain, "MCOMPANY", "COMPANY_CODE"},
        {&TFormMerge::TableMerge, &TFormMerge::DatabaseMain, "MERGRHD", "NO"},
        {&TFormMerge::TableMergeDTL, &TFormMerge::DatabaseMain, "MERGEDTL", "NO;CODE"},
        {&TFormMerge::DbTablePara1, &TFormMerge::dbDest, "PAYPARA", ""},
        {&TFormMerge::DbTablePaypara1, &TFormMerge::dbDest, "PAYPARA1", "YEAR"},
        {&TFormMerge::DbTableSourceEmp, &TFormMerge::dbSource, "EMPLOYEE", "EMP_NO"},
        {&TFormMerge::DbTableExrate, &TFormMerge::dbSource, "EXRATE", "CURR;EXCODE;PERIOD"},
        {&TFormMerge::tblDest, &TFormMerge::dbDest, "", ""},
        {&TFormMerge::DbTable1, &TFormMerge::dbDest, "", ""},
        {&TFormMerge::P_DTRXAW, &TFormMerge::dbDest, "P_DTRXAW",
         "EMPCODE;PERIOD;CYCLE;ALLW_DED_CODE"},
        {&TFormMerge::P_DTRXNH, &TFormMerge::dbDest, "P_DTRXNH",
         "EMPCODE;PERIOD;CYCLE;NPL_HOUR_TYPE"},
        {&TFormMerge::P_DTRXLV, &TFormMerge::dbDest, "P_DTRXLV",
         "EMPCODE;PERIOD;CYCLE;ALLW_DED_CODE"},
        {&TFormMerge::P_DTRXND, &TFormMerge::dbDest, "P_DTRXND",
         "EMPCODE;PERIOD;CYCLE;NPL_DAY_TYPE"},
        {&TFormMerge::P_DTRXRD, &TFormMerge::dbDest, "P_DTRXRD",
         "EMPCODE;PERIOD;CYCLE;RESTDAY_TYPE"},
        {&TFormMerge::P_DTRXSF, &TFormMerge::dbDest, "P_DTRXSF",
         "EMPCODE;PERIOD;CYCLE;SHIFT_STATUS"},
        {&TFormMerge::YTDEMPL, &TFormMerge::dbDest, "YTDEMPL", ""},
        {&TFormMerge::P_HTRX, &TFormMerge::dbDest, "P_HTRX", "EMPCODE;PERIOD;CYCLE;PAYDAY"},
        {&TFormMerge::P_DTRXAS, &TFormMerge::dbDest, "P_DTRXAS",
         "EMPCODE;PERIOD;CYCLE;ABSENT_TYPE"},
        {&TFormMerge::P_DTRXOT, &TFormMerge::dbDest, "P_DTRXOT", "EMPCODE;PERIOD;CYCLE;OTTYPE"},
        {&TFormMerge::DbTableCost, &TFormMerge::dbDest, "COSTCTR", "EMPCODE;PERIOD;COST_CENTRE"},
        {&TFormMerge::TableEmp, &TFormMerge::dbDest, "EMPLOYEE", "EMP_NO"},
        {&TFormMerge::TableRtable, &TFormMerge::dbDest, "RTABLE", "NO"},
        {&TFormMerge::TableAllw, &TFormMerge::dbDest, "ALLOWNCE", "ALLOW_CODE;YEAR"},
        {&TFormMerge::TableTrnno, &TFormMerge::dbDest, "TRNNO", ""},
        {&TFormMerge::TableRep, &TFormMerge::dbDest, "RTPDETL", "RPTCODE;ID"},
    };
    for (const auto& decl : kTables) {
        db::TDbTable& table = this->*decl.Table;
        table.SetConnection(&(this->*decl.Connection));
        table.SetTableName(decl.TableName);
        table.SetIndexFieldNames(decl.IndexFieldNames);
    }

    db::TDbQuery TFormMerge::*const kDestQueries[] = {
        &TFormMerge::DbQueryDel,  &TFormMerge::DbQuerySQL,    &TFormMerge::DbQueryHTRX,
        &TFormMerge::dbqryUpdate, &TFormMerge::DbQueryMaster, &TFormMerge::DbQueryPHTRX,
        &TFormMerge::DbQueryCost,
    };
    for (auto query : kDestQueries) (this->*query).SetConnection(&dbDest);
    tblSource.SetConnection(&dbSource);

    // The statement of the rate reset never changes.
    dbqryUpdate.SQL().Add("UPDATE EXRATE SET EX_RATE=1");

    db::TDbTable TFormMerge::*const kEncryptedOnOpen[] = {
        &TFormMerge::P_DTRXAW, &TFormMerge::P_DTRXNH, &TFormMerge::P_DTRXLV, &TFormMerge::P_DTRXND,
        &TFormMerge::P_DTRXRD, &TFormMerge::P_DTRXSF, &TFormMerge::YTDEMPL,  &TFormMerge::P_HTRX,
        &TFormMerge::P_DTRXAS, &TFormMerge::P_DTRXOT, &TFormMerge::TableEmp,
    };
    for (auto table : kEncryptedOnOpen) (this->*table).AfterOpen = P_DTRXAWAfterOpen;

    // Sources of the current group only, following the group grid.
    TableMergeDTL.SetMasterSource(&TableMerge, "NO");

    // The allowance column rows of the report column table.
    TableRtable.SetFilter("DATABASE1='ALLW'");

    // Connection settings fixed for the main window's connections.
    DatabaseMain.LoginPrompt = false;
    dbDest.LoginPrompt = false;
    dbSource.LoginPrompt = false;
    DatabaseMain.Compression = db::TCompressionType::ctNever;
    dbDest.Compression = db::TCompressionType::ctNever;
    DatabaseMain.CommunicationType = db::TCommunicationType::ctTCP_IP;
    dbDest.CommunicationType = db::TCommunicationType::ctTCP_IP;
}

}  // namespace peltorn
