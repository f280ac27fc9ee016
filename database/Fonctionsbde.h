#pragma once

#include <functional>
#include <string>

#include "base/IniFile.h"
#include "base/ProgramPaths.h"

// The store application's database environment, read from its ombbde.ini: the aliases
// OmbrelinAdministration, OmbrelinTarifs and OmbrelinMaj and the network control directory, set
// up in the default session before any window opens.
namespace quorvane {

using TWarning = std::function<void(const std::string&)>;

// The path of ombbde.ini named by the settings file ("Setup"/"Dir" + "/" + "ombbde.ini"); empty
// when the settings file does not exist.
std::string BdeIniPath(const ProgramPaths& paths);

// Sets up the three aliases and, when given, the network directory. False after the first refused
// directory, whose warning `warning` has then received.
bool InitBdeEnvironment(TIniFile& ini, const TWarning& warning);

// Start-up's database step: InitBdeEnvironment over the ombbde.ini the settings name, when that
// file exists; without it, tables are reached through whatever aliases the session already
// knows. False when a directory it names was refused (the warning was given).
bool PrepareBdeEnvironment(const ProgramPaths& paths, const TWarning& warning);

// Sets up the alias "Ombrelin" + key on its directory (read, or root + "/" + key): added, or when
// the session already knows it, its database re-pointed there.
bool SetupAlias(std::string root, std::string key, TIniFile& ini, const TWarning& warning);

}  // namespace quorvane
