#pragma once
#include <QString>

// The per-user folders of the XDG base directories, as POSIX paths decoded
// with posixname::decode(). A value that is unset, empty or relative is
// ignored, as the XDG rules ask (Qt 6.4's QStandardPaths would take a
// relative one as it stands), and the default under $HOME is used.
namespace xdg {

QString configHome(); // $XDG_CONFIG_HOME, else ~/.config
QString dataHome();   // $XDG_DATA_HOME, else ~/.local/share
QString stateHome();  // $XDG_STATE_HOME, else ~/.local/state
QString runtimeDir(); // $XDG_RUNTIME_DIR; empty when unset or relative
QString homeFolder(); // $HOME, else the account's home folder

} // namespace xdg
