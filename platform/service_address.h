#pragma once
// Which addresses the maker's services may have: https:// anywhere, plain http:// only to this machine
// (127.0.0.0/8, localhost, ::1), which the tests use. Whatever crosses the network (an e-mail address,
// a program to run) must not travel in clear text.
#include <string>

namespace mistvale {

bool IsAllowedServiceAddress(const std::string& url);

} // namespace mistvale
