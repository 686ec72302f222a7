// TFormMerge: the main window as the engine sees it. It owns, for the life of the process, every
// connection, table and query component of the program, the state that carries from step to step
// of a merge run, and the state of the window's controls. The desktop program and the command-line
// tool show this state and feed the operator's input into it; the engine's operations work on it.
//
// Every operation of the engine takes the form it works on (TFormMerge&) and otherwise no
// arguments unless the operation has its own (a table name, a currency code).
#pragma once

#include "db/Db.h"
#include "run/RunAccount.h"
#include "support/Operator.h"
#include "support/ProgBar.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace peltorn {

// The window title and version.
inline constexpr const char* kApplicationTitle = "PELTORN VER 9.7.18";

// State of the window's controls. Front ends show it after every ProcessMessages and write the
// operator's input into it.
struct TMergeControls {
    // "Process" page.
    std::string EditPeriod;                    // text of the period box
    std::vector<std::string> EditPeriodItems;  // items "period<TAB>period"
    int EditPeriodItemIndex = -1;
    std::string Edit1;  // destination being merged
    std::string edit2;  // one-line progress text
    int Gauge1Min = 0;
    int Gauge1Max = 100;
    int Gauge1Progress = 0;
    bool CheckBoxLeave = false;  // "Transfer Leave Record ?"
    bool CheckBoxGL = true;      // "Merge GL?"
    bool chkSPE = false;         // "Exclude Special record"
    bool chkMERGE = false;       // "Merge selected  database?"
    run::TRunLog Memo1;          // run log
    bool BitBtn1Enabled = true;  // "&Merge Database"
    bool BitBtn2Enabled = true;  // Close
    // "Setup" page.
    int RadioGroup1ItemIndex = -1;  // "Check All" = 0, "Uncheck All" = 1
    bool DBGrid2ReadOnly = false;
    // Pages: 0 = "Process", 1 = "Setup".
    int ActivePage = 0;
    std::string Caption;
};

// The operator as the engine reaches it through the window: whatever has been posted is committed
// before a message box or a question waits for the person at the screen, so that no posted record
// stays uncommitted for as long as somebody takes to answer. Forwards everything to the operator
// the window was created with.
class TCommittingOperator : public support::IOperator {
public:
    explicit TCommittingOperator(support::IOperator* const& target) : m_target(target) {}
    // Called with every message, question and error text before it is shown.
    std::function<void(const std::string&)> OnShown;
    void Inform(const std::string& text) override;
    bool Ask(const std::string& question) override;
    void ReportError(const std::string& text) override;
    void ProcessMessages() override { m_target->ProcessMessages(); }

private:
    support::IOperator* const& m_target;
};

// The currency codes a source company holds on an employee's master record.
struct TEmployeeCurrency {
    std::string FcurrCode;
    std::string LocalCurrCode;
};

// The safety net of one merge group in the last run: the snapshot taken of its destination
// before it was cleared, and whether the destination was put back from it. One record per group
// whose destination was snapshotted, in the order of the run.
struct TGroupSnapshot {
    std::string Group;           // the group's CODE, trimmed ("#GRP1")
    std::string Destination;     // the destination's path as the run formed it
    std::string Folder;          // the snapshot's folder
    std::uint64_t Bytes = 0;     // bytes copied into it
    double Seconds = 0;          // time the snapshot took
    bool Restored = false;       // the destination was put back from it (a failure or a stop)
    double RestoreSeconds = 0;   // time putting it back took
    std::string RestoreFailure;  // why putting it back failed (the snapshot is kept); else empty
};

class TFormMerge {
    // First of all members: the progress window below is made with the committing operator.
    support::IOperator* m_operator;
    TCommittingOperator m_committing{m_operator};

public:
    explicit TFormMerge(support::IOperator& op);
    TFormMerge(const TFormMerge&) = delete;
    TFormMerge& operator=(const TFormMerge&) = delete;

    support::IOperator& Operator() { return m_committing; }
    void SetOperator(support::IOperator& op);
    // Let the windows process pending messages. The run log lines written since the last call
    // go into the run's account first.
    void ProcessMessages() {
        if (Controls.Memo1.size() != m_memoAccounted) AccountRunLog();
        m_operator->ProcessMessages();
    }

    // Called as each stage of a merge group begins ("clearing", "transfer", "currency", "bank",
    // "cost-centre", "allowance columns", "employee stamp") and with "" when the group's stages
    // have ended. Empty unless somebody watches the run (the merge benchmark times the stages).
    // The stage also begins (and the one before ends) in the account of the group being merged.
    std::function<void(const char* stage)> OnStage;
    void Stage(const char* stage);

    // ---- the run's account ----
    run::TRunAccount Account;
    // The group being merged, or null between groups and outside a run.
    run::TGroupAccount* GroupBeingMerged() {
        return !Account.Groups.empty() && Account.Groups.back().Result.empty()
                   ? &Account.Groups.back()
                   : nullptr;
    }
    // The table being transferred, or null; the record transfer counts into it.
    run::TTransferCount* TransferBeingCounted = nullptr;
    // The checks and the reconciliation after each group (on unless the merge benchmark measures
    // the run without them).
    bool CheckGroups = true;
    // The run log lines not yet in the account, and one message, with the time they were shown.
    void AccountRunLog();
    void AccountMessage(const std::string& text);

    TMergeControls Controls;
    support::TFormMsg FormMsg;  // the progress window, one instance for the process

    // ---- start-up (settings, main database) ----
    std::string StdCurr;
    std::string BaseFolder;
    std::string DictionarySetting;
    std::string ProgramFolder;  // ends with a path separator
    std::string SettingsFile;   // the settings file read at start-up

    db::TDbConnection DatabaseMain{"DatabaseMain"};
    db::TDbConnection dbDest{"dbDest"};
    db::TDbConnection dbSource{"dbSource"};
    db::TDbSettings DbSettings1;

    db::TDbTable TableMCompany{"TableMCompany"};
    db::TDbTable TableMCompany1{"TableMCompany1"};
    db::TDbTable TableMerge{"TableMerge"};
    db::TDbTable TableMergeDTL{"TableMergeDTL"};

    // ---- merge run ----
    std::string CurrentDbPath;
    std::string SourceDbPath;
    std::string CurrentEmpCode;
    std::string CurrentEmpCodeField;
    std::size_t RecordsTransferred = 0;  // records posted by TransferRecord since start-up
    // Employees of the run (every group) whose payroll was left in its own currency: a missing
    // rate, or a stop request before the conversion reached them. Set afresh by every run.
    std::size_t EmployeesNotConverted = 0;
    // The currency codes of every employee of the group's sources, by employee code, the later
    // source winning as its records do; resigned employees too, whose master record is not
    // carried over but whose payroll of the period is. Made afresh for every group.
    std::map<std::string, TEmployeeCurrency> SourceEmployeeCurrencies;

    // ---- the run's safety net (run/Snapshots.h) ----
    // Every destination is copied into a snapshot before it is cleared and put back from it when
    // an error or a stop ends the run while it is being merged.
    bool TakeSnapshots = true;
    // Where the snapshots lie ([MERGE] SNAPSHOTS, --snapshots); empty: MERGE-SNAPSHOTS beside the
    // company folder of BaseFolder.
    std::string SnapshotFolder;
    int KeepSnapshots = 3;  // snapshots kept per destination after its group ends
    // "Preview only, change nothing": the run works on scratch copies of every database it uses.
    bool DryRun = false;
    // The database a run connects for a path of the installation: the path itself, or during a
    // preview its scratch copy (made the first time it is asked for).
    std::function<std::string(const std::string& path)> MapDatabasePath;
    std::string DatabasePath(const std::string& path) {
        return MapDatabasePath ? MapDatabasePath(path) : path;
    }
    // Made afresh by every run.
    std::vector<TGroupSnapshot> GroupSnapshots;

    db::TDbTable DbTablePara1{"DbTablePara1"};          // PAYPARA of dbDest, for the sign-on
    db::TDbTable DbTablePaypara1{"DbTablePaypara1"};    // PAYPARA1 of dbDest, "YEAR"
    db::TDbTable DbTableSourceEmp{"DbTableSourceEmp"};  // EMPLOYEE of dbSource, "EMP_NO"
    db::TDbTable DbTableExrate{"DbTableExrate"};        // EXRATE of dbSource
    db::TDbTable tblDest{"tblDest"};
    db::TDbQuery tblSource{"tblSource"};
    // Clearing the destination period.
    db::TDbQuery DbQueryDel{"DbQueryDel"};
    db::TDbTable DbTable1{"DbTable1"};
    db::TDbQuery DbQuerySQL{"DbQuerySQL"};

    // ---- currency conversion ----
    db::TDbTable P_DTRXAW{"P_DTRXAW"};
    db::TDbTable P_DTRXNH{"P_DTRXNH"};
    db::TDbTable P_DTRXLV{"P_DTRXLV"};
    db::TDbTable P_DTRXND{"P_DTRXND"};
    db::TDbTable P_DTRXRD{"P_DTRXRD"};
    db::TDbTable P_DTRXSF{"P_DTRXSF"};
    db::TDbTable YTDEMPL{"YTDEMPL"};
    db::TDbTable P_HTRX{"P_HTRX"};
    db::TDbTable P_DTRXAS{"P_DTRXAS"};
    db::TDbTable P_DTRXOT{"P_DTRXOT"};
    db::TDbQuery DbQueryHTRX{"DbQueryHTRX"};
    db::TDbQuery dbqryUpdate{"dbqryUpdate"};
    db::TDbQuery DbQueryMaster{"DbQueryMaster"};
    db::TDbQuery DbQueryPHTRX{"DbQueryPHTRX"};
    double EmployeeRate = 0;
    std::string EmployeeCurrency;  // pay currency of the employee being converted
    double AllowanceSum = 0;
    double DeductionSum = 0;
    double BonusSum = 0;
    double GrossOnlySum = 0;
    double NettOnlySum = 0;
    double RowCredit = 0;

    // ---- rebuilds ----
    db::TDbQuery DbQueryCost{"DbQueryCost"};
    db::TDbTable DbTableCost{"DbTableCost"};  // COSTCTR, "EMPCODE;PERIOD;COST_CENTRE"
    db::TDbTable TableEmp{"TableEmp"};        // EMPLOYEE of dbDest, "EMP_NO"
    db::TDbTable TableRtable{"TableRtable"};  // RTABLE
    db::TDbTable TableAllw{"TableAllw"};      // ALLOWNCE, "ALLOW_CODE;YEAR"
    db::TDbTable TableTrnno{"TableTrnno"};    // TRNNO
    db::TDbTable TableRep{"TableRep"};        // RTPDETL, "RPTCODE;ID"

private:
    void BindComponents();
    std::size_t m_memoAccounted = 0;
    std::chrono::steady_clock::time_point m_stageStarted;
};

}  // namespace peltorn
