#include "audio/AudioException.h"

#include "audio/Config.h"

#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <iostream>
#include <memory>
#include <sstream>
#include <typeinfo>

namespace audio {

namespace {
std::string demangle(const char* name)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> readable(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
    return status == 0 && readable ? std::string(readable.get()) : std::string(name);
}

// backtrace_symbols gives "module(mangled+0x1f) [0x...]": made into
// "function (module+0x1f)", or the module and offset alone when the name is unknown.
std::string readableFrame(const char* symbol)
{
    const std::string text(symbol);
    const auto open = text.find('(');
    const auto close = text.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos)
        return text;
    std::string module = text.substr(0, open);
    if (const auto slash = module.rfind('/'); slash != std::string::npos)
        module.erase(0, slash + 1);
    const std::string inside = text.substr(open + 1, close - open - 1);
    const auto plus = inside.find('+');
    const std::string name = inside.substr(0, plus);
    const std::string offset = plus == std::string::npos ? std::string() : inside.substr(plus);
    if (name.empty())
        return module + offset;
    return demangle(name.c_str()) + " (" + module + offset + ")";
}
} // namespace

AudioException::AudioException(std::string typeName, std::string message)
    : typeName_(std::move(typeName))
    , message_(std::move(message))
    , stack_(config::stackTraceFrames)
{
    stack_.resize(static_cast<std::size_t>(::backtrace(stack_.data(), config::stackTraceFrames)));
}

void printStackTrace(const std::exception& failure, std::ostream& out)
{
    const auto* audioFailure = dynamic_cast<const AudioException*>(&failure);
    out << (audioFailure ? audioFailure->typeName() : demangle(typeid(failure).name())) << ": "
        << failure.what() << '\n';
    if (!audioFailure || audioFailure->stack().empty())
        return;
    const auto& stack = audioFailure->stack();
    std::unique_ptr<char*, void (*)(void*)> symbols(
        ::backtrace_symbols(stack.data(), static_cast<int>(stack.size())), std::free);
    // The stack begins inside the exception's own constructors: those frames say nothing.
    bool leading = true;
    for (std::size_t i = 1; i < stack.size(); ++i) {
        const std::string frame = symbols ? readableFrame(symbols.get()[i]) : std::string("?");
        if (leading && frame.find("Exception::") != std::string::npos
            && frame.find("Exception(") != std::string::npos)
            continue;
        leading = false;
        out << "\tat " << frame << '\n';
    }
}

void printStackTrace(const std::exception& failure)
{
    std::ostringstream text;
    printStackTrace(failure, text);
    std::cerr << text.str() << std::flush;
}

} // namespace audio
