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
    if (argument == "--dry-run") {
        return StartMode::DryRun;
    }
    if (argument == "--check-connection") {
        return StartMode::CheckConnection;
    }
    if (argument == "--unattended") {
        return StartMode::Unattended;
    }
    if (AsciiUpper(argument) == "CONFIG") {
        return StartMode::Configuration;
    }
    return StartMode::Synchronization;
}

bool AnsweredWithoutWindow(StartMode mode) {
    return mode == StartMode::Help || mode == StartMode::Version;
}

bool RunsHeadless(StartMode mode) {
    return mode == StartMode::DryRun || mode == StartMode::CheckConnection ||
           mode == StartMode::Unattended;
}

std::string UsageText() {
    return "Utilisation :\n"
           "  QuorvaneClient                     effectue une synchronisation avec la Quorvane, "
           "puis se ferme\n"
           "  QuorvaneClient CONFIG              ouvre la fenêtre de paramétrage\n"
           "  QuorvaneClient --dry-run           fait un essai de synchronisation sans rien "
           "modifier\n"
           "  QuorvaneClient --check-connection  teste la connexion au serveur FTP enregistré\n"
           "  QuorvaneClient --unattended        effectue une synchronisation sans fenêtre ni "
           "compte à rebours\n"
           "  QuorvaneClient --help              affiche cette aide\n"
           "  QuorvaneClient --version           affiche la version\n"
           "\n"
           "--dry-run télécharge les fichiers dans un dossier temporaire (Auto/ n'est pas "
           "touché),\n"
           "les intègre puis annule tout ; il affiche ce que la synchronisation aurait changé "
           "table\n"
           "par table et les erreurs que le rapport aurait contenues, par exemple :\n"
           "  Messages : téléchargement oui, intégration oui\n"
           "    Message.DB (message.xml) : 1 200 lignes, 40 purgées, 1 200 ajoutées, 0 "
           "refusée\n"
           "  Aucune entrée : le rapport n'aurait pas été écrit.\n"
           "Code de sortie : 0 sans erreur, 1 avec des erreurs, 2 si une synchronisation est en "
           "cours.\n"
           "\n"
           "--check-connection se connecte une seule fois avec les paramètres FTP "
           "enregistrés,\n"
           "dit pour chaque fichier du siège si le serveur l'a et sa taille, puis se "
           "déconnecte :\n"
           "  Connection établie avec le serveur FTP\n"
           "  Adresse du serveur jointe : 2001:db8::21 (IPv6), sans proxy\n"
           "  remise_achat.xml : présent, 1030 octets\n"
           "  message_type.xml : absent du serveur\n"
           "Code de sortie : 0 si la connexion est établie et chaque fichier a pu être "
           "demandé, 1 sinon.\n"
           "\n"
           "--unattended est la synchronisation des services planifiés : mêmes fichiers, même "
           "rapport,\n"
           "même journal, mais aucune fenêtre et aucun affichage nécessaire.\n"
           "Code de sortie : 0 sans erreur, 1 avec des erreurs (rapport écrit), 2 si une\n"
           "synchronisation est en cours.\n"
           "\n"
           "Proxy (section Quorvane_FTP) : http://hôte:port ou socks5h://hôte:port, avec\n"
           "utilisateur:mot_de_passe@ devant l'hôte au besoin, ou « aucun » ; absent ou vide,\n"
           "le proxy de l'environnement (ftp_proxy, all_proxy, no_proxy) est suivi.\n"
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
