// The allowance report columns of a destination. Reports take their columns from RTABLE, and
// report layouts (RTPDETL) point at columns by number. After a merge the allowance master
// ALLOWNCE holds the allowances of every merged company, so the allowances are numbered afresh
// from 1500 in code order, each code gets one "ALLW" column in RTABLE under its number, the last
// number goes into the counter table TRNNO, and the layout rows are pointed at the new numbers.
//
// The run calls it once per group, right after the cost-centre rebuild. It shows nothing and
// handles no database error: a failure passes to the run, and what was written before it stays.
//
// Order of the work, which the numbers rely on:
//   1. delete every "ALLW" column (the filter hides the columns of other sources);
//   2. walk ALLOWNCE in ALLOW_CODE;YEAR order, stamp each row with its code's number and make or
//      update the code's column (all year rows of a code share one number and one column);
//   3. store the last number in TRNNO;
//   4. point layout rows that name an allowance code in FIELD at the allowance's number;
//   5. point layout rows whose DATABASE1, FIELD and CODE name any existing column at its number,
//      which overrides step 4 where both apply.
#include "rebuild/Rebuilds.h"

#include <string>

namespace peltorn::rebuild {

namespace {

constexpr int kFirstAllowanceNo = 1500;

// RTABLE. Its filter (DATABASE1='ALLW') is set once with the main window's components.
constexpr const char* kRtableBySource = "DATABASE1;FIELD;CODE";
constexpr const char* kRtableByNo = "NO";
constexpr const char* kAllowanceSource = "ALLW";
constexpr const char* kColNo = "NO";
constexpr const char* kColHeading = "HEADING";
constexpr const char* kColCode = "CODE";
constexpr const char* kColSource = "DATABASE1";
constexpr const char* kColField = "FIELD";
constexpr const char* kColWidth = "WIDTH";
constexpr const char* kColType = "TYPE1";
constexpr const char* kColHideWage = "HIDE_WAGE";
// Values of a new allowance column.
constexpr const char* kAllowanceColumnCode = "AMOUNT";
constexpr int kAllowanceColumnWidth = 12;
constexpr const char* kAllowanceColumnType = "N";
constexpr const char* kAllowanceColumnHidden = "T";

// ALLOWNCE.
constexpr const char* kAllowCode = "ALLOW_CODE";
constexpr const char* kAllowDesc = "DESC";
constexpr const char* kAllowNo = "TRNNO";
// TRNNO.
constexpr const char* kCounter = "TRNNO";
// RTPDETL.
constexpr const char* kRepSource = "DATABASE1";
constexpr const char* kRepField = "FIELD";
constexpr const char* kRepCode = "CODE";
constexpr const char* kRepCol = "COL";

// The components keep their state between groups; an open one is used as it stands.
void EnsureOpen(db::TDataSet& dataset) {
    if (!dataset.Active()) dataset.Open();
}

void DeleteAllowanceColumns(db::TDbTable& rtable) {
    rtable.First();
    while (!rtable.Eof()) rtable.Delete();
}

// Step 2 of the order above; returns the number of the last code (1500 when there is none).
int NumberAllowances(TFormMerge& form) {
    db::TDbTable& rtable = form.TableRtable;
    db::TDbTable& allw = form.TableAllw;

    int counter = kFirstAllowanceNo;
    rtable.SetIndexFieldNames(kRtableBySource);
    allw.First();
    std::string currentCode = allw.Eof() ? std::string() : allw.FieldByName(kAllowCode).AsString();
    while (!allw.Eof()) {
        allw.Edit();
        allw.FieldByName(kAllowNo).SetAsInteger(counter);
        allw.Post();

        const std::string code = allw.FieldByName(kAllowCode).AsString();
        if (rtable.FindKey({kAllowanceSource, code})) {
            // An earlier year row of the same code made the column in this run.
            rtable.Edit();
        } else {
            rtable.Append();
            if (run::TGroupAccount* group = form.GroupBeingMerged())
                ++group->Rebuilds.AllowanceColumns;
            rtable.FieldByName(kColNo).SetAsInteger(allw.FieldByName(kAllowNo).AsInteger());
            rtable.FieldByName(kColCode).SetAsString(kAllowanceColumnCode);
            rtable.FieldByName(kColSource).SetAsString(kAllowanceSource);
            rtable.FieldByName(kColField).SetAsString(code);
            rtable.FieldByName(kColWidth).SetAsInteger(kAllowanceColumnWidth);
            rtable.FieldByName(kColType).SetAsString(kAllowanceColumnType);
            rtable.FieldByName(kColHideWage).SetAsString(kAllowanceColumnHidden);
        }
        // The heading of a code ends as the description of its last year row.
        rtable.FieldByName(kColHeading).SetAsString(allw.FieldByName(kAllowDesc).AsString());
        rtable.Post();

        // After the last row the last row stays current, so the counter is not raised past the
        // last code: TRNNO ends at the number last given out.
        allw.Next();
        const std::string nextCode = allw.FieldByName(kAllowCode).AsString();
        if (nextCode != currentCode) {
            currentCode = nextCode;
            ++counter;
        }
    }
    return counter;
}

void StoreCounter(db::TDbTable& trnno, int counter) {
    trnno.First();
    trnno.Edit();  // starts a new record when the table is empty
    trnno.FieldByName(kCounter).SetAsInteger(counter);
    trnno.Post();
}

// Step 4: layout rows whose FIELD is an allowance code get that allowance's number.
void PointRowsAtAllowances(TFormMerge& form) {
    db::TDbTable& rep = form.TableRep;
    db::TDbTable& allw = form.TableAllw;
    for (rep.First(); !rep.Eof(); rep.Next()) {
        const std::string field = rep.FieldByName(kRepField).AsString();
        // The key search cuts a value to the width of ALLOW_CODE, so a longer FIELD would find
        // the allowance whose code is its front; only an exact name counts.
        if (allw.FindKey({field}) && allw.FieldByName(kAllowCode).AsString() == field) {
            rep.Edit();
            rep.FieldByName(kRepCol).SetAsString(allw.FieldByName(kAllowNo).AsString());
            rep.Post();
        }
    }
}

// Step 5: layout rows that name an existing column of any source get its number.
void PointRowsAtColumns(TFormMerge& form) {
    db::TDbTable& rep = form.TableRep;
    db::TDbTable& rtable = form.TableRtable;
    rtable.SetIndexFieldNames(kRtableBySource);
    for (rep.First(); !rep.Eof(); rep.Next()) {
        const std::string source = rep.FieldByName(kRepSource).AsString();
        const std::string field = rep.FieldByName(kRepField).AsString();
        const std::string code = rep.FieldByName(kRepCode).AsString();
        if (rtable.FindKey({source, field, code})) {
            rep.Edit();
            rep.FieldByName(kRepCol).SetAsString(rtable.FieldByName(kColNo).AsString());
            rep.Post();
        }
    }
}

}  // namespace

// Contract: dbDest names the destination of the current group. Afterwards RTABLE, ALLOWNCE and
// RTPDETL stay open, RTABLE in "NO" order with the "ALLW" filter in force, and TRNNO is closed.
// Raises the database layer's error for a failing open, delete, edit or post; the changes made
// before it stay.
void RebuildAllowanceColumns(TFormMerge& form) {
    db::TDbTable& rtable = form.TableRtable;
    rtable.Close();
    rtable.SetFiltered(true);
    rtable.Open();
    EnsureOpen(form.TableAllw);
    EnsureOpen(form.TableTrnno);
    EnsureOpen(form.TableRep);

    DeleteAllowanceColumns(rtable);
    const int counter = NumberAllowances(form);

    rtable.SetIndexFieldNames(kRtableByNo);
    StoreCounter(form.TableTrnno, counter);

    PointRowsAtAllowances(form);

    form.TableTrnno.Close();
    rtable.SetFiltered(false);
    PointRowsAtColumns(form);

    rtable.SetIndexFieldNames(kRtableByNo);
    rtable.SetFiltered(true);
}

}  // namespace peltorn::rebuild
