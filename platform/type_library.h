#pragma once
// The type library a COM server carries in its own file (resource TYPELIB 1),
// for clients that ask an object for its type information, and its
// registration beside the server's class. Only Windows has type libraries:
// on POSIX a server carries none and nothing is registered.
#include <string>

#include "platform/com.h"
#include "platform/status.h"

namespace qz381::platform {

// The default interface of class `clsid` as described by the type library of
// the module that holds `address` (anything of that module), with one
// reference for the caller. Answers S_OK, or a failure HRESULT and null when
// the module carries no type library or it does not describe the class. Any
// thread; the system caches the loaded library.
HRESULT LoadClassTypeInfo(const void* address, const CLSID& clsid, ITypeInfo** info);
// Whether the call above would succeed.
bool HasClassTypeInfo(const void* address, const CLSID& clsid);

// Registers the type library in the module at `module_path` in the system
// registry (the library, its version, folder and interfaces), as regsvr32
// expects of a server. kUnsupported where there are no type libraries.
Status RegisterTypeLibraryOf(const std::string& module_path);
// Removes what the call above wrote. A library never registered is no error.
Status UnregisterTypeLibraryOf(const std::string& module_path);

}  // namespace qz381::platform
