#include "database/Fonctionsbde.h"

#include "base/SharedFolder.h"
#include "config/settings/Settings.h"
#include "database/Session.h"

namespace quorvane {

namespace {

// ombbde.ini and the folders it names are chosen in the shared settings: reached through
// trusted links only, and a pipe at a file's name is never waited on.
bool DirectoryExists(const std::string& path) {
    return !path.empty() && OpenFolder(path).Valid();
}

bool FileExists(const std::string& path) {
    return !path.empty() && OpenFileToRead(path).Valid();
}

}  // namespace

std::string BdeIniPath(const ProgramPaths& paths) {
    std::string path;
    if (FileExists(paths.CheminIni)) {
        path = settings::ReadSetupDir(paths.CheminIni);
        if (path.empty() || path.back() != '/') {
            path += '/';
        }
    }
    if (!path.empty()) {
        path += "ombbde.ini";
    }
    return path;
}

bool InitBdeEnvironment(TIniFile& ini, const TWarning& warning) {
    const std::string root = ini.ReadString("Alias", "Ombrelin", "");
    if (!root.empty() && !DirectoryExists(root)) {
        warning("Répertoire Ombrelin non valide : " + root);
        return false;
    }
    for (const char* key : {"Administration", "Tarifs", "Maj"}) {
        if (!SetupAlias(root, key, ini, warning)) {
            return false;
        }
    }
    const std::string netDir = ini.ReadString("Alias", "NetDir", "");
    if (netDir.empty()) {
        return true;
    }
    if (DirectoryExists(netDir)) {
        Session().SetNetFileDir(netDir);
        return true;
    }
    warning("Répertoire NetDir non valide : " + netDir);
    return false;
}

bool SetupAlias(std::string root, std::string key, TIniFile& ini, const TWarning& warning) {
    std::string directory = ini.ReadString("Alias", key, "");
    if (directory.empty()) {
        directory = root + "/" + key;
    }
    if (!DirectoryExists(directory)) {
        warning("Répertoire " + key + " non valide : " + directory);
        return false;
    }
    const std::string alias = "Ombrelin" + key;
    TSession& session = Session();
    if (session.IsAlias(alias)) {
        session.OpenDatabase(alias).SetDirectory(directory);
    } else {
        session.AddStandardAlias(alias, directory, "");
    }
    return true;
}

bool PrepareBdeEnvironment(const ProgramPaths& paths, const TWarning& warning) {
    const std::string iniPath = BdeIniPath(paths);
    if (!FileExists(iniPath)) {
        return true;
    }
    TIniFile ini(iniPath);
    return InitBdeEnvironment(ini, warning);
}

}  // namespace quorvane
