// A byte sink of the codec and the package walker that collects what it is given in a string.
#pragma once

#include <stddef.h>

#include <string>

// Appends count bytes of data to the std::string context points to; never refuses.
inline bool AppendToString(void* context, const unsigned char* data, size_t count)
{
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), count);
    return true;
}
