// Clearing a destination. Runs once per merge group, after dbDest has been signed on and before
// the first source is transferred:
//
//   1. whole tables emptied, in order: RTPHD, RTPDETL, MEDICAL, COSTCTR; the general-ledger
//      tables (only with "Merge GL?"); EXRATE; EMP_BNK, EMP_PROS, EMP_ALW (these three with the
//      free-table password);
//   2. EMP_BNK.TRXID made a plain integer column when it is an auto-increment one;
//   3. the period deleted from the eleven period tables ("999999": every period), each first
//      opened exclusively, encrypted (free tables) and packed; cycle "S" kept under "Exclude
//      Special record". A period table that fails is reported, and its error then ends the run.
//
// The run snapshots the destination before the clearing; a run that fails later puts it back
// from there (run/Snapshots.h). Without a snapshot emptied tables and deleted records stay deleted.
#include "run/ClearDestination.h"

#include "run/MergeRun.h"
#include "run/RunTexts.h"
#include "signon/Credentials.h"

#include <string>
#include <vector>

namespace peltorn::run {

namespace {

const std::vector<std::string> kRebuiltTables = {"RTPHD", "RTPDETL", "MEDICAL", "COSTCTR"};
const std::vector<std::string> kGLClearTables = {"GLBODY", "GLCODE", "GLDETAIL", "GLHEADER",
                                                 "GLLINE", "GLMAP",  "GLTYPE",   "GLPARA"};
const std::vector<std::string> kRateTables = {"EXRATE"};
const std::vector<std::string> kEmployeeSetupTables = {"EMP_BNK", "EMP_PROS", "EMP_ALW"};
const std::vector<std::string> kPeriodTables = {"P_DTRXAW", "P_DTRXAS", "P_DTRXNH", "P_DTRXND",
                                                "P_DTRXSF", "P_DTRXLV", "P_DTRXOT", "P_DTRXRD",
                                                "P_HTRX",   "YTDEMPL",  "BANKTRX"};

void ShowCleared(TFormMerge& form, const std::string& tableName) {
    if (TGroupAccount* group = form.GroupBeingMerged())
        group->Cleared.push_back({tableName, form.DbQueryDel.RowsAffected()});
    form.Controls.edit2 = kProgressClear + tableName;
    form.ProcessMessages();
}

void RepairTrxid(TFormMerge& form) {
    CurrentRunContext().Table = kEmpBnk;
    if (form.dbDest.IsDictionaryConn()) {
        form.dbDest.ExecuteStatement(kRepairTrxidDictionary);
        return;
    }
    db::TDbQuery& q = form.DbQuerySQL;
    q.SetTablePassword(kEmpBnk, signon::kFreeTablePassword);
    q.Close();
    q.SQL().Clear();
    q.SQL().Add(kSelectEmpBnk);
    q.Open();
    if (q.FieldByName(kTrxid).DataType() == db::TFieldType::ftAutoInc) {
        q.Close();
        q.SQL().Clear();
        q.SQL().Add(kRepairTrxidFree);
        q.ExecSQL();
    }
}

}  // namespace

void ClearWholeTable(TFormMerge& form, const std::string& tableName, bool withPassword) {
    CurrentRunContext().Table = tableName;
    db::TDbQuery& q = form.DbQueryDel;
    q.SQL().Clear();
    q.SQL().Add(kDeleteFrom + tableName + kDeleteWholeTail);
    if (!form.dbDest.IsDictionaryConn() && withPassword)
        q.SetTablePassword(tableName, signon::kFreeTablePassword);
    q.ExecSQL();
    ShowCleared(form, tableName);
}

void ClearTablePeriod(TFormMerge& form, const std::string& tableName) {
    const std::string& period = form.Controls.EditPeriod;
    CurrentRunContext().Table = tableName;

    const bool freeTables = !form.dbDest.IsDictionaryConn();
    const bool keepSpecial = form.Controls.chkSPE;
    db::TDbQuery& q = form.DbQueryDel;
    q.SQL().Clear();
    if (period == kAllPeriods) {
        // Every period is transferred again, so every period is cleared (the kept special cycle
        // aside): a second run leaves what the first did.
        q.SQL().Add(kDeleteFrom + tableName +
                    (keepSpecial ? kDeleteAllKeepSpecialTail : kDeleteWholeTail));
    } else {
        q.SQL().Add(kDeleteFrom + tableName +
                    (keepSpecial ? kDeletePeriodKeepSpecialTail : kDeletePeriodTail));
        q.ParamByName(kPeriodParam).SetAsString(period);
    }
    if (freeTables) q.SetTablePassword(tableName, signon::kFreeTablePassword);

    db::TDbTable& t = form.DbTable1;
    try {
        t.Close();
        t.SetTableName(tableName);
        t.SetExclusive(true);
        t.Open();
        if (freeTables) {
            // From here on the destination's period tables are encrypted.
            if (t.IsTableEncrypted()) {
                t.Close();
                t.EncryptionPassword = signon::kFreeTablePassword;
                t.Open();
            } else {
                t.EnableEncryption(signon::kFreeTablePassword);
                t.EncryptTable();
            }
        }
        // The pack comes before the delete, as it always has.
        t.PackTable();
        t.Close();
        q.ExecSQL();
        ShowCleared(form, tableName);
    } catch (const std::exception& e) {
        // The operator is told which table kept its records. The run cannot go on: the transfer
        // would add the period's rows beside the old ones and the conversion would convert the
        // old ones again, so the error ends it before anything is added.
        form.Operator().Inform(e.what() + std::string(kErrClearTableSuffix) + t.TableName());
        throw;
    }
}

void ClearDestination(TFormMerge& form) {
    for (const auto& table : kRebuiltTables) ClearWholeTable(form, table, false);
    if (form.Controls.CheckBoxGL)
        for (const auto& table : kGLClearTables) ClearWholeTable(form, table, false);
    for (const auto& table : kRateTables) ClearWholeTable(form, table, false);
    for (const auto& table : kEmployeeSetupTables) ClearWholeTable(form, table, true);
    RepairTrxid(form);
    for (const auto& table : kPeriodTables) ClearTablePeriod(form, table);
}

}  // namespace peltorn::run
