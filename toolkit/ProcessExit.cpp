#include "toolkit/ProcessExit.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <utility>

namespace toolkit {

namespace {
ExitHandler& handlerSlot()
{
    static ExitHandler handler;
    return handler;
}
} // namespace

void exitProcess(int status)
{
    if (auto& handler = handlerSlot()) {
        handler(status);
        return;
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(status);
}

ExitHandler setExitHandler(ExitHandler handler)
{
    return std::exchange(handlerSlot(), std::move(handler));
}

} // namespace toolkit
