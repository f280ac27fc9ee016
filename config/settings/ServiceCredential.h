#pragma once

#include <optional>
#include <string>

#include "config/settings/Settings.h"

// The FTP password a service manager hands the run (systemd's LoadCredential= and
// LoadCredentialEncrypted=), so that it never has to sit in clear in the settings file.
namespace quorvane::settings {

// The name of the credential in $CREDENTIALS_DIRECTORY.
inline constexpr const char* kPasswordCredential = "quorvane-mdp";

// The content of $CREDENTIALS_DIRECTORY/quorvane-mdp, one final line end removed; nothing when
// the variable is unset or the file absent or unreadable.
std::optional<std::string> ServicePassword();

// The account as the run, the dry run and the command line's connection test use it: the
// settings' account with the service manager's password in place of "Mdp" when there is one.
// The windows read ReadFtpAccount and never see that password.
std::optional<FtpAccount> ReadFtpAccountForRun(const std::string& iniPath,
                                               const std::string& section);

}  // namespace quorvane::settings
