#include "audio/AudioException.h"

#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <iostream>
#include <memory>
#include <sstream>
#include <typeinfo>

namespace audio {

namespace {
    constexpr int maxFrames = 48;

    std::string demangle(const char* name)
    {
        int status = 0;
        std::unique_ptr<char, void (*)(void*)> readable(
            abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
        return status == 0 && readable ? std::string(readable.get()) : std::string(name);
    }
}

AudioException::AudioException(std::string typeName, std::string message)
    : typeName_(std::move(typeName))
    , message_(std::move(message))
    , stack_(maxFrames)
{
    stack_.resize(static_cast<std::size_t>(::backtrace(stack_.data(), maxFrames)));
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
    // The first frame is the exception's own constructor.
    for (std::size_t i = 1; i < stack.size(); ++i)
        out << "\tat " << (symbols ? symbols.get()[i] : "?") << '\n';
}

void printStackTrace(const std::exception& failure)
{
    std::ostringstream text;
    printStackTrace(failure, text);
    std::cerr << text.str() << std::flush;
}

} // namespace audio
