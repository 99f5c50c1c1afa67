// Where the tool keeps its files when it is started outside a prepared
// folder, for example from the desktop menu: a per-user folder under the XDG
// configuration directory, filled from the example files on first use.
#pragma once

#include <QString>

// $XDG_CONFIG_HOME/tkeval, or ~/.config/tkeval when that is unset or not an
// absolute path.
QString UserDir_Path();

// The example files' folder for a program in appDir: ../share/tkeval/examples
// when installed, share/tkeval/examples beside a program in its build folder.
// Empty when neither holds a system.ini.
QString UserDir_Examples(const QString& appDir);

// Makes the current directory the working directory for this run. A folder
// that holds system.ini is kept as it is. Otherwise the per-user folder is
// used, created and filled from the examples first when it has no
// system.ini; files already there are never replaced. Returns a line for the
// status bar when something was created or went wrong, else empty.
QString UserDir_EnterAtStart(const QString& appDir);
