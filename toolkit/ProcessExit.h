#pragma once

#include <functional>

namespace toolkit {

// Ends the process with the given status. The default flushes the standard streams and
// leaves with std::_Exit, so no static destructor runs under a player that is still sounding.
// Tests install their own handler, which records the call and returns.
void exitProcess(int status);

using ExitHandler = std::function<void(int status)>;
// Returns the handler that was installed before; an empty handler restores the default.
ExitHandler setExitHandler(ExitHandler handler);

} // namespace toolkit
