#include "app/CommandLine.h"

#include "base/TextConversion.h"

namespace quorvane {

StartMode ReadCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) {
        return StartMode::Synchronization;
    }
    const std::string& argument = arguments[1];
    if (argument == "--help") {
        return StartMode::Help;
    }
    if (argument == "--version") {
        return StartMode::Version;
    }
    if (AsciiUpper(argument) == "CONFIG") {
        return StartMode::Configuration;
    }
    return StartMode::Synchronization;
}

bool AnsweredWithoutWindow(StartMode mode) {
    return mode == StartMode::Help || mode == StartMode::Version;
}

std::string UsageText() {
    return "Utilisation :\n"
           "  QuorvaneClient           effectue une synchronisation avec la Quorvane, puis se "
           "ferme\n"
           "  QuorvaneClient CONFIG    ouvre la fenêtre de paramétrage\n"
           "  QuorvaneClient --help    affiche cette aide\n"
           "  QuorvaneClient --version affiche la version\n"
           "\n"
           "Toute autre ligne de commande effectue une synchronisation.\n"
           "\n"
           "Fichiers du dossier du programme :\n"
           "  QuorvaneClient.ini             paramètres (lu ; écrit par CONFIG)\n"
           "  Auto/                          fichiers téléchargés\n"
           "  QuorvaneClientAutoLog.html     rapport des erreurs de la dernière "
           "synchronisation\n"
           "  QuorvaneClientStatus.json      état de la dernière synchronisation\n"
           "  QuorvaneClient.lock            verrou : une synchronisation à la fois\n"
           "Les tables du magasin sont celles que nomme ombbde.ini.\n"
           "\n"
           "Documentation : man QuorvaneClient\n";
}

std::string VersionText() {
    return "QuorvaneClient " QUORVANE_VERSION "\n";
}

}  // namespace quorvane
