#pragma once

// Where the library's log lines go. By default each line is written to standard error with a
// time stamp; every line the library writes begins with "Rivlo:".

#include "rivlo/Version.h"

#include <functional>
#include <string>

namespace rivlo {

// Receives one log line (UTF-8, without a trailing newline). Called on whichever thread wrote
// the line, possibly several at once, and never while the library holds a lock, so it may call
// back into the library.
using LogHandler = std::function<void(const std::string& line)>;

// Sends every following log line to handler; an empty handler restores standard error. Any
// thread.
RIVLO_API void setLogHandler(LogHandler handler);

}  // namespace rivlo
