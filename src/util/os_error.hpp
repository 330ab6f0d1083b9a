// The text of an operating-system error number, for messages
// ("Permission denied", "No such file or directory").
#pragma once

#include <string>

namespace kestrine {

std::string os_error_text(int error);

}  // namespace kestrine
