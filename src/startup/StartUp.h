// Start-up of the main window: the creation handler FormCreate that reads the settings file,
// decides where the databases are, connects the main database, opens the company master and the
// merge set-up tables and fills the period list. Both front ends (the desktop program and the
// command-line tool) create the main window through it, so a merge always starts from the same
// state whichever program runs it.
#pragma once

#include "startup/FormMerge.h"

#include <functional>
#include <string>

namespace peltorn {

// The name of the settings file beside the program.
inline constexpr const char* kSettingsFileName = "ORVEX.ini";
// Start-up's error for a settings file given with --ini that does not exist: this + the path.
inline constexpr const char* kSettingsNotFound = "Settings file not found: ";
// The standard currency into which every amount is converted.
inline constexpr const char* kStandardCurrency = "MYR";

// Where the program starts from.
//   IniFile: the settings file to read. Empty: ProgramFolder followed by "ORVEX.ini".
//   ProgramFolder: the folder of the program (with or without a trailing separator). Empty with
//     IniFile set: the settings file's folder plays the program folder's role (--ini FILE).
//   Today: the current date; empty: the machine's local date.
struct TStartOptions {
    std::string IniFile;
    std::string ProgramFolder;
    std::function<db::TDateTime()> Today;
};

// The options of a program started as programPath (argv[0] or /proc/self/exe) with the settings
// file iniOption (empty when --ini was not given). The settings file is, in this order: the one
// --ini names; ORVEX.ini beside the program; and, for a program installed in a system folder
// with none beside it, the first of $XDG_CONFIG_HOME/peltorn/ORVEX.ini (~/.config when the
// variable is unset) and /etc/peltorn/ORVEX.ini that exists.
TStartOptions StartOptionsFor(const std::string& programPath, const std::string& iniOption);

// The settings search of an installed program, with its places given: the settings file for a
// program in programFolder when no --ini was given, or empty when ORVEX.ini beside the program is
// the one (also when no file exists anywhere: start-up then reads the missing file as empty).
std::string InstalledSettingsFile(const std::string& programFolder, const std::string& configHome,
                                  const std::string& etcFolder);

// True for the folders programs are installed in (/usr/bin, /usr/local/bin, /bin, /opt/...):
// nothing of an installation is ever written there.
bool IsSystemFolder(const std::string& folder);

// The folder part of path, ending with a separator ("./" for a bare file name).
std::string FolderOf(const std::string& path);

// path itself when it exists, else the entry of its folder whose name equals its file name
// without regard to letter case (the folder part as given); empty when there is none.
std::string FindFileNoCase(const std::string& path);

// Today's local date as a date-time value (no time of day).
db::TDateTime LocalToday();

// The values of the settings file, read with the rules of Windows INI files: section and key
// names compared without case, a value as written after the '=' with surrounding blanks removed
// (backslashes and ';' inside it kept) and then one pair of double quotes around the whole value
// dropped, the first of repeated keys wins, and a missing file, section or key reads as empty
// text.
struct TSettings {
    std::string Dictionary;  // [PATH] DICTIONARY
    std::string ServerType;  // [SETTING] SERVERTYPE
    std::string Dir;         // [PATH] DIR
    std::string Snapshots;   // [MERGE] SNAPSHOTS: the merge run's snapshot folder
};
TSettings ReadSettingsFile(const std::string& iniFile);

// Reads the settings file iniFile into the window: DictionarySetting, SnapshotFolder, and, when
// SERVERTYPE is exactly "REMOTE", remote-only server types on DatabaseMain, dbDest and dbSource.
// Returns DIR.
std::string ReadSettings(TFormMerge& form, const std::string& iniFile);

// Fills the period list of EditPeriod with the twelve periods (yyyyMM) of today's year and
// selects the current month: items "period<TAB>period", EditPeriodItemIndex = month - 1,
// EditPeriod = that period.
void BuildPeriodList(TFormMerge& form, db::TDateTime today);

// The main window's creation handler: standard currency, caption, start credentials of the
// company connections, "Process" page active, settings, BaseFolder, DatabaseMain connected, the
// merge set-up tables made when "MERGRHD.ADT" is missing from the program folder, MCOMPANY (twice),
// MERGRHD and MERGEDTL opened, the period list built. The "Setup" page's handlers (company filter,
// DESC lookup fields) are installed first, whatever fails later.
// The settings file is ProgramFolder + "ORVEX.ini" or the IniFile given, found in any letter
// case; without IniFile a missing file reads as empty, a given IniFile that does not exist is an
// error ("Settings file not found: <file>"). The set-up tables are made only beside an existing
// MCOMPANY.ADT (see MakeMergeTables).
// Sets form.ProgramFolder and form.SettingsFile (as found). Any failure is shown by the standard
// error report (form.Operator().ReportError) and the remaining steps are skipped; nothing is
// raised.
void FormCreate(TFormMerge& form, const TStartOptions& options);

}  // namespace peltorn
