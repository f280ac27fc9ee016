#include "base/ProgramPaths.h"

#include <filesystem>
#include <system_error>

namespace quorvane {

ProgramPaths ProgramPaths::ForFolder(std::string folder) {
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    ProgramPaths p;
    p.RepertoireProgramme = folder;
    p.CheminIni = folder + "QuorvaneClient.ini";
    p.RepertoireAuto = folder + "Auto/";
    p.CheminRapport = folder + "QuorvaneClientAutoLog.html";
    p.CheminStatut = folder + "QuorvaneClientStatus.json";
    p.CheminGeneration = folder + "QuorvaneClientGeneration";
    return p;
}

ProgramPaths ProgramPaths::OfRunningProgram() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return ForFolder(std::filesystem::current_path(ec).string());
    }
    return ForFolder(exe.parent_path().string());
}

}  // namespace quorvane
