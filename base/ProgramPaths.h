#pragma once

#include <string>

namespace quorvane {

// The program's own files, all found next to the executable. Paths are joined by plain
// concatenation, as the store world does it: nothing is normalised away.
struct ProgramPaths {
    std::string RepertoireProgramme;  // ends with "/"
    std::string CheminIni;            // settings file
    std::string RepertoireAuto;       // download folder, ends with "/"
    std::string CheminRapport;        // HTML run report
    std::string CheminStatut;         // JSON status of the last run, beside the report
    std::string CheminGeneration;     // newest signed generation of head-office files accepted

    static ProgramPaths ForFolder(std::string folder);
    // The folder of the running executable as the kernel reports it.
    static ProgramPaths OfRunningProgram();
};

}  // namespace quorvane
