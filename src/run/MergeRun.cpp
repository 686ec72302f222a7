// The merge run driver: the click handler of "&Merge Database".
//
// The road of one run
// -------------------
//   period checked ("Invalid Period!")  ->  buttons disabled, run log emptied
//   for each group of MERGRHD, in NO order:
//       code must begin with "#"          else "Invalid merge database selected!", run ends
//       chkMERGE ticked and MASTER <> "T" -> group skipped
//       destination path -> CurrentDbPath, Edit1; held against other runs; refused when the
//       marker of an interrupted run lies in its snapshots; dbDest signed on (its own PAYPARA)
//       and connected
//       PAYPARA1 lock of the period's year -> "Merged database is locked and skipped.
//       Database# <code>", group skipped
//       the destination snapshotted, the marker of a run in progress placed (run/Snapshots.h)
//       ClearDestination
//       for each source of the group (MERGEDTL, master-linked on NO), in NO;CODE order:
//           source path -> CurrentDbPath; dbSource signed on with the DESTINATION's version
//           mark (SelectAdminLogin on dbDest), opened through its EMPLOYEE table
//           SourceDbPath; parameter tables; TransferCompanyTables; GL tables (CheckBoxGL);
//           report and parameter tables again
//       ConvertCurrency; RebuildCostCentres; RebuildAllowanceColumns;
//       StampEmployeeCurrency(StdCurr) when StdCurr is not empty; the marker removed
//   progress window closed; "Merge database completed" (or, after a stop request, "Merge stopped
//   by the operator: N employees not converted", no later group started, the stopped group put
//   back from its snapshot); buttons enabled; company connections closed.
//
// Every path through a group ends with Next on MERGRHD. A group holds its destination against
// other merge runs from before dbDest is connected to its end. An error anywhere ends the run at
// once: the buttons stay disabled and the progress window as it was. What the run wrote is not
// taken back record by record (each posted record stays written); instead RunMerge puts the
// destination being merged back from its snapshot before it reports the error, and the
// destinations merged before stay merged. A period table that cannot be cleared is such an
// error, and so is a commit that fails. In a preview (DryRun) every database is a scratch copy.
#include "run/MergeRun.h"

#include "currency/ConvertCurrency.h"
#include "rebuild/Rebuilds.h"
#include "run/ClearDestination.h"
#include "run/RunChecks.h"
#include "run/RunTexts.h"
#include "run/Snapshots.h"
#include "run/TransferTables.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "support/StrUtil.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace peltorn::run {

namespace {

TRunContext g_runContext;

// Disconnects dbDest, points it at CurrentDbPath, signs on and connects.
void ConnectDestination(TFormMerge& form) {
    form.dbDest.Disconnect();
    form.dbDest.SetConnectPath(form.DatabasePath(form.CurrentDbPath));
    std::string password;
    signon::SelectAdminLogin(form.dbDest, form.DbTablePara1, kSignOn, password);
    form.dbDest.Password = password;
    form.dbDest.Connect();
}

// The account names every dictionary of the group that is not encrypted.
void NotePlainDictionary(TFormMerge& form, db::TDbConnection& connection) {
    if (!connection.IsDictionaryConn() || connection.IsEncryptedDictionary()) return;
    if (TGroupAccount* group = form.GroupBeingMerged())
        group->PlainDictionaries.push_back(form.CurrentDbPath);  // the installation's, not a copy's
}

void RunSource(TFormMerge& form) {
    TRunContext& context = CurrentRunContext();
    context.Table.clear();
    form.CurrentDbPath = SourcePath(form.BaseFolder, form.DictionarySetting,
                                    form.TableMergeDTL.FieldByName(kMergeGroupCode).AsString(),
                                    form.TableMergeDTL.FieldByName(kMergeSourcePath).AsString());
    context.Database = form.CurrentDbPath;

    // The destination's version mark decides the source's password too; the call leaves dbDest
    // disconnected, and its next dataset opens it again.
    form.dbSource.Disconnect();
    form.dbSource.SetConnectPath(form.DatabasePath(form.CurrentDbPath));
    std::string password;
    OnDestination(form, [&] {
        signon::SelectAdminLogin(form.dbDest, form.DbTablePara1, kSignOn, password);
        // Natural order (an index name left by an earlier table is cleared too).
        form.tblDest.SetIndexFieldNames("");
        form.tblDest.SetIndexName("");
    });
    form.dbSource.Password = password;

    const bool freeSource = !form.dbSource.IsDictionaryConn();
    if (freeSource) {
        form.tblSource.EnableEncryption(signon::kFreeTablePassword);
        form.tblSource.SetTablePassword(kPHtrx, signon::kFreeTablePassword);
    }
    // Opening the source's EMPLOYEE table is where a source that cannot be opened fails.
    context.Table = kEmployee;
    form.DbTableSourceEmp.Close();
    form.DbTableSourceEmp.Open();
    NotePlainDictionary(form, form.dbSource);
    if (freeSource) form.DbTableSourceEmp.EnableEncryption(signon::kFreeTablePassword);

    form.SourceDbPath = form.CurrentDbPath;
    for (const char* table : {"PPARA_DR", "PPARA_OT", "PPARA_RD", "PPARA_SF"})
        TransferParameterTable(form, table);
    TransferCompanyTables(form);
    if (form.Controls.CheckBoxGL) TransferGLTables(form);
    for (const char* table : {"RTPHD", "RTPDETL", "PPARA_DR", "PPARA_OT", "PPARA_RD", "PPARA_SF"})
        TransferParameterTable(form, table);
}

// One group, the current record of TableMerge. Returns normally for a merged or skipped group;
// true when the operator asked to stop while it was merged.
bool RunGroup(TFormMerge& form) {
    TRunContext& context = CurrentRunContext();
    const std::string code = form.TableMerge.FieldByName(kMergeGroupCode).AsString();
    context = {code, {}, {}};
    form.Account.Groups.push_back({});
    TGroupAccount& account = form.Account.Groups.back();
    account.No = form.TableMerge.FieldByName(kMergeGroupNo).AsInteger();
    account.Code = code;
    auto skip = [&account](const std::string& reason) {
        account.Result = kResultSkipped;
        account.Error = reason;
        return false;
    };

    // Checked before the selection, so it applies to every group, selected or not.
    if (support::SubStr(code, 1, 1) != kConsolidatedMark)
        throw EMergeError(kMsgInvalidMergeDatabase);
    if (form.Controls.chkMERGE && form.TableMerge.FieldByName(kMergeGroupMaster).AsString() != kYes)
        return skip(kSkipNotSelected);

    form.CurrentDbPath =
        DestinationPath(form.BaseFolder, form.DictionarySetting, support::TrimSpaces(code));
    form.Controls.Edit1 = form.CurrentDbPath;
    context.Database = form.CurrentDbPath;
    account.Destination = form.CurrentDbPath;
    // Two runs merging one destination at once would each clear it and then each add their
    // sources: every always-added table twice, every amount converted twice. The destination is
    // held against every other run for the whole group (released on the way out, also when the
    // group fails); a run that finds it held changes nothing there.
    auto hold = db::TDatabaseRunLock::TryAcquire(form.CurrentDbPath);
    if (!hold) {
        throw EMergeError(kErrBeingMergedPrefix + form.CurrentDbPath + kErrBeingMergedGroup + code +
                          kErrBeingMergedSuffix);
    }
    RefuseInterruptedDestination(form, support::TrimSpaces(code));
    ConnectDestination(form);
    NotePlainDictionary(form, form.dbDest);

    context.Table = form.DbTablePaypara1.TableName();
    form.DbTablePaypara1.Open();
    if (IsDestinationLocked(form, form.Controls.EditPeriod)) {
        form.Operator().Inform(kMsgLockedSkipped + code);
        return skip(kMsgLockedSkipped + code);
    }

    // From here until the group ends the destination can be put back as it was.
    SnapshotDestination(form, support::TrimSpaces(code));
    form.Stage("clearing");
    ClearDestination(form);
    form.SourceEmployeeCurrencies.clear();

    form.Stage("transfer");
    for (form.TableMergeDTL.First(); !form.TableMergeDTL.Eof(); form.TableMergeDTL.Next())
        RunSource(form);

    // The stages after the last source work on the destination.
    context.Database =
        DestinationPath(form.BaseFolder, form.DictionarySetting, support::TrimSpaces(code));
    context.Table.clear();
    form.Stage("currency");
    const currency::TConversionResult conversion = currency::ConvertCurrency(form);
    form.EmployeesNotConverted += conversion.NotConverted;
    form.Stage("cost-centre");
    rebuild::RebuildCostCentres(form);
    form.Stage("allowance columns");
    rebuild::RebuildAllowanceColumns(form);
    // The stamp leaves their own currency on the employees the conversion did not reach.
    form.Stage("employee stamp");
    if (!form.StdCurr.empty()) currency::StampEmployeeCurrency(form, form.StdCurr);
    form.Stage("");
    // A stop during the conversion, or one the cost-centre rebuild left standing.
    const bool stopped = conversion.Stopped || form.FormMsg.StopRequested;
    // The checks read what the stages wrote; a stopped group is left incomplete on purpose.
    if (!stopped && form.CheckGroups) {
        form.Stage("checks");
        CheckGroup(form, account);
        form.Stage("");
    }
    if (!stopped) DestinationMerged(form);
    account.Result = stopped ? kResultStopped : kResultCompleted;
    return stopped;
}

std::string RunResultText(TMergeResult result) {
    switch (result) {
        case TMergeResult::Completed: return kResultCompleted;
        case TMergeResult::CompletedWithFailedChecks: return kResultFailedChecks;
        case TMergeResult::Stopped: return kResultStopped;
        case TMergeResult::Failed: break;
    }
    return kResultFailed;
}

// The run's account from its start: the period, the time, the options of the window.
void BeginAccount(TFormMerge& form) {
    const TMergeControls& c = form.Controls;
    form.Account = {};
    form.Account.Period = c.EditPeriod;
    form.Account.Started = AccountTime(std::chrono::system_clock::now());
    form.Account.Options.Leave = c.CheckBoxLeave;
    form.Account.Options.GL = c.CheckBoxGL;
    form.Account.Options.ExcludeSpecial = c.chkSPE;
    form.Account.Options.SelectedOnly = c.chkMERGE;
    form.TransferBeingCounted = nullptr;
}

void EndAccount(TFormMerge& form, TMergeResult result,
                std::chrono::steady_clock::time_point started) {
    form.AccountRunLog();
    form.Account.Options.DryRun = form.DryRun;
    form.Account.Options.Snapshots = form.TakeSnapshots;
    // Each snapshot belongs to the last group of its destination's code (a code is merged once).
    for (const TGroupSnapshot& snapshot : form.GroupSnapshots) {
        for (auto group = form.Account.Groups.rbegin(); group != form.Account.Groups.rend();
             ++group) {
            if (support::TrimSpaces(group->Code) != snapshot.Group) continue;
            group->Snapshot =
                TSnapshotAccount{snapshot.Folder,         static_cast<std::int64_t>(snapshot.Bytes),
                                 snapshot.Seconds,        snapshot.Restored,
                                 snapshot.RestoreSeconds, snapshot.RestoreFailure};
            break;
        }
    }
    form.TransferBeingCounted = nullptr;
    form.Account.Result = RunResultText(result);
    form.Account.ElapsedS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace

TRunContext& CurrentRunContext() { return g_runContext; }

void FailedInDestination(TFormMerge& form) {
    try {
        g_runContext.Database = form.dbDest.ConnectPath();
    } catch (...) {
        // Naming the database must never replace the error being raised.
    }
}

std::string DestinationPath(const std::string& baseFolder, const std::string& dictionarySetting,
                            const std::string& code) {
    if (dictionarySetting == kDictionaryYes)
        return baseFolder + kCompanyFolderDictionary + code + kPathSeparator + code +
               kDictionaryExtension;
    return baseFolder + kCompanyFolderFree + code;
}

std::string SourcePath(const std::string& baseFolder, const std::string& dictionarySetting,
                       const std::string& code, const std::string& path) {
    if (!path.empty()) return path;
    return DestinationPath(baseFolder, dictionarySetting, code);
}

bool IsValidPeriod(const std::string& period) {
    if (period == kAllPeriods) return true;
    if (period.size() != 6 || !std::all_of(period.begin(), period.end(), [](unsigned char ch) {
            return std::isdigit(ch) != 0;
        })) {
        return false;
    }
    // A period names one month of a year: "202413" or "202400" would clear and fill the
    // destinations for a month no payroll has.
    const int month = (period[4] - '0') * 10 + (period[5] - '0');
    return month >= 1 && month <= 12;
}

bool IsDestinationLocked(TFormMerge& form, const std::string& period) {
    db::TDbTable& lock = form.DbTablePaypara1;
    if (!lock.FindKey({support::SubStr(period, 1, 4)})) return false;
    if (lock.FieldByName(kLockField).AsString() != kYes) return false;
    // Only a locked year converts the period to a number; the run has checked it is six digits.
    return lock.FieldByName(kLockPeriodField).AsInteger() >= std::stoi(period);
}

std::string StoppedMessage(std::size_t employeesNotConverted) {
    return kMsgMergeStoppedPrefix + std::to_string(employeesNotConverted) + kMsgMergeStoppedSuffix;
}

TMergeResult BitBtn1Click(TFormMerge& form) {
    TMergeControls& c = form.Controls;
    const auto started = std::chrono::steady_clock::now();
    BeginAccount(form);
    g_runContext = {};
    form.EmployeesNotConverted = 0;
    c.Memo1.clear();
    form.AccountRunLog();  // the account counts the new run log's lines from its first
    form.DbTableExrate.Close();
    form.DbTableExrate.SetIndexFieldNames(kExrateIndex);
    // An empty period, or one that is not a month (yyyyMM, month 01 to 12) nor "999999", would
    // clear and refill the destinations for no period at all; it is refused before anything
    // changes.
    if (c.EditPeriod.empty() || !IsValidPeriod(c.EditPeriod)) throw EMergeError(kMsgInvalidPeriod);

    StartSafetyNet(form);
    c.BitBtn1Enabled = false;
    c.BitBtn2Enabled = false;
    // The windows keep processing their messages inside long statements too (the delete of a
    // year of cost-centre rows, a large source selection).
    db::TStatementHeartbeat heartbeat([&form] { form.ProcessMessages(); });
    form.dbDest.Disconnect();
    form.TableMCompany.SetFiltered(false);

    // The operator's stop ends the run after the group it came in: that group is finished (its
    // conversion stops, the rebuilds and the stamp run), so its destination stays consistent, and
    // no further destination is cleared.
    bool stopped = false;
    for (form.TableMerge.First(); !stopped && !form.TableMerge.Eof(); form.TableMerge.Next())
        stopped = RunGroup(form);

    g_runContext = {};
    // With a snapshot, the stopped group is put back instead of left as the stop left it.
    if (stopped) RestoreStoppedDestination(form);
    form.FormMsg.CloseProgress();
    const TMergeResult result = stopped ? TMergeResult::Stopped
                                : form.Account.FailedChecks()
                                    ? TMergeResult::CompletedWithFailedChecks
                                    : TMergeResult::Completed;
    EndAccount(form, result, started);
    form.Operator().Inform(EndOfRunLine(form, stopped));
    c.BitBtn1Enabled = true;
    c.BitBtn2Enabled = true;
    form.dbDest.Disconnect();
    form.dbSource.Disconnect();
    EndSafetyNet(form);
    return result;
}

std::string RunErrorReport(const std::string& errorText, const TRunContext& context) {
    std::string where;
    auto add = [&where](const char* label, const std::string& value) {
        if (value.empty()) return;
        where += where.empty() ? " (" : ", ";
        where += label + value;
    };
    add("merge group ", context.Group);
    add("database ", context.Database);
    add("table ", context.Table);
    return where.empty() ? errorText : errorText + where + ")";
}

TMergeResult RunMerge(TFormMerge& form) {
    const auto started = std::chrono::steady_clock::now();
    try {
        return BitBtn1Click(form);
    } catch (const std::exception& e) {
        // The destination being merged is put back before the error is reported.
        std::string text = RunErrorReport(e.what(), CurrentRunContext());
        TGroupAccount* group = form.GroupBeingMerged();
        if (group) form.Stage("");  // the stage the error ended ends with it
        const std::string restored = RestoreFailedDestination(form);
        if (!restored.empty()) text += (text.empty() || text.back() != '.' ? "." : "") + restored;
        if (form.DryRun) text = InstallationText(text) + kMsgPreviewEnd;
        if (group) {
            group->Result = kResultFailed;
            group->Error = text;
        }
        EndSafetyNet(form);
        form.Operator().ReportError(text);
        EndAccount(form, TMergeResult::Failed, started);
        return TMergeResult::Failed;
    }
}

}  // namespace peltorn::run
