// peltorn groups: the merge groups of an installation (MERGRHD and MERGEDTL of its main database)
// listed and edited from the terminal. The main window is created as the desktop program creates
// it (FormCreate with the same settings file), so the same tables are edited by the same rules.
//
//   peltorn groups list                       one line per group, then one per source
//   peltorn groups add NO CODE                a group with destination CODE (a "#" company)
//   peltorn groups add-source NO CODE [--path P]
//   peltorn groups remove NO                  the group; its sources stay under its NO
//   peltorn groups remove-source NO CODE
//   peltorn groups check-all | uncheck-all    mark every group selected / not selected
// Each takes --ini FILE (default: ORVEX.ini beside the program), before or after its name; a
// settings file named so that does not exist is an error.
#include "cli/Commands.h"

#include "setup/MergeGroups.h"
#include "startup/StartUp.h"

#include <iostream>
#include <memory>
#include <stdexcept>

namespace peltorn::cli {

namespace {

struct GroupsArgs {
    std::string Ini;
    int No = 0;
    std::string Code;
    std::string Path;
};

// Creates the main window on the installation and runs body on it.
void WithForm(const GroupsArgs& args, const char* argv0,
              const std::function<void(TFormMerge&)>& body) {
    TCommandOperator op;
    TFormMerge form(op);
    FormCreate(form, StartOptionsFor(argv0, args.Ini));
    if (!op.FirstError.empty()) throw std::runtime_error(op.FirstError);
    body(form);
    db::FlushPendingWrites();
}

}  // namespace

void RegisterGroupsCommands(CLI::App& app, int& exitCode) {
    auto* groups = app.add_subcommand("groups", "list and edit the merge groups");
    groups->require_subcommand(1);
    auto args = std::make_shared<GroupsArgs>();
    const char* argv0 = "peltorn";

    auto add = [&](const std::string& name, const std::string& help) {
        return groups->add_subcommand(name, help);
    };
    auto run = [args, argv0, &exitCode](std::function<void(TFormMerge&)> body) {
        exitCode = Guarded([&] { WithForm(*args, argv0, body); });
    };

    auto* list = add("list", "one line per merge group and per source");
    list->callback([run] {
        run([](TFormMerge& form) {
            for (const auto& line : setup::FormatGroups(setup::ListGroups(form))) {
                std::cout << line << "\n";
            }
        });
    });

    auto* addGroup = add("add", "add a merge group NO with destination CODE");
    addGroup->add_option("NO", args->No, "group number")->required();
    addGroup->add_option("CODE", args->Code, "destination company code (begins with #)")
        ->required();
    addGroup->callback([run, args] {
        run([args](TFormMerge& form) { setup::AddGroup(form, args->No, args->Code); });
    });

    auto* addSource = add("add-source", "add source company CODE to merge group NO");
    addSource->add_option("NO", args->No, "group number")->required();
    addSource->add_option("CODE", args->Code, "source company code")->required();
    addSource->add_option("--path", args->Path, "full path of the source database");
    addSource->callback([run, args] {
        run([args](TFormMerge& form) { setup::AddSource(form, args->No, args->Code, args->Path); });
    });

    auto* remove = add("remove", "remove merge group NO (its sources stay under its NO)");
    remove->add_option("NO", args->No, "group number")->required();
    remove->callback([run, args] {
        run([args](TFormMerge& form) {
            int kept = setup::RemoveGroup(form, args->No);
            if (kept > 0) {
                std::cerr << kept << " source(s) of group " << args->No
                          << " stay in MERGEDTL and return under a new group " << args->No
                          << std::endl;
            }
        });
    });

    auto* removeSource = add("remove-source", "remove source CODE from merge group NO");
    removeSource->add_option("NO", args->No, "group number")->required();
    removeSource->add_option("CODE", args->Code, "source company code")->required();
    removeSource->callback([run, args] {
        run([args](TFormMerge& form) { setup::RemoveSource(form, args->No, args->Code); });
    });

    add("check-all", "mark every merge group selected")->callback([run] {
        run([](TFormMerge& form) { setup::CheckAll(form); });
    });
    add("uncheck-all", "mark every merge group not selected")->callback([run] {
        run([](TFormMerge& form) { setup::UncheckAll(form); });
    });
    // Before the subcommand (groups --ini FILE list) or after it (groups list --ini FILE).
    AddIniOption(*groups, args->Ini);
}

}  // namespace peltorn::cli
