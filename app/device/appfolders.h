// Where the application keeps what it writes: the "data" folder (default place of
// recordings, screenshots and the viewer's open dialog) and the device library's log folder.
//
// Portable - the program runs from a folder of its own that it may write to and that is not
// the installed place (the build tree, a copied folder): data beside the program, the log in
// the current directory + "/log".
// Installed - the program's folder is read-only for this user, or it is the place the
// install rules put it (<libdir>/quorvex, which a package unpacked into a writable folder
// still is): per-user folders, ${XDG_DATA_HOME:-$HOME/.local/share}/quorvex/data and
// ${XDG_STATE_HOME:-$HOME/.local/state}/quorvex/log.
//
// The help page is not decided here: the manual and the SDK always sit beside the program.
#pragma once

#include <QString>

namespace appfolders {

// Everything the decision depends on, so that it is decided without touching the system.
struct Situation {
    QString appDir;  // the program's folder, absolute, without a trailing slash
    bool appDirWritable = false;
    // The installed place, relative to the prefix ("lib/x86_64-linux-gnu/quorvex") or
    // absolute; empty: no installed place is known.
    QString installDir;
    QString currentDir;  // the process's current directory
    QString home;
    QString xdgDataHome;   // as in the environment; empty or relative counts as unset
    QString xdgStateHome;  // likewise
};

struct Folders {
    bool installed = false;
    QString data;
    QString log;
};

// Pure: the folders for `s`; nothing is created.
Folders Decide(const Situation &s);

// The running process's situation: QCoreApplication::applicationDirPath() (needs an
// application object), write access to it as the system reports it, the install place this
// program was built for, the current directory and the environment.
Situation Current();

// Decide(s), with both per-user folders created if missing (portable ones are left as they
// are). A folder that cannot be created is still returned: what uses it then fails as on
// any other unwritable folder.
Folders Prepared(const Situation &s);

// Prepared(Current()).data / .log: the only source of the default data folder and of the
// folder the worker gives to openLog.
QString DataFolder();
QString LogFolder();

}  // namespace appfolders
