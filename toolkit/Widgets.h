#pragma once

#include <QLatin1String>

namespace toolkit {

// Components carry their field names, as a designer would give them.
template <typename T> T* named(T* object, const char* name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

} // namespace toolkit
