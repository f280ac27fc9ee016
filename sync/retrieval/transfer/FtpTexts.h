#pragma once

// What is checked before a value goes into a command, and how a failure's text is told
// from the server's reply and curl's code.

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace quorvane {

// Throws when value holds a CR, LF or NUL; what names the value in the message.
void RefuseLineBreaks(std::string_view value, const char* what);

void CheckRemoteName(const std::string& remote);

bool ReplyDecides(CURLcode code);

bool IsRefusal(const std::string& reply);

bool IsSecurityNegotiation(CURLcode code);

}  // namespace quorvane
