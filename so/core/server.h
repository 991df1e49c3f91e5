#pragma once
// The in-process server's identity and its lock count: each live CPOSPrinter and
// each IClassFactory::LockServer(TRUE) keeps the module loaded.
#include "platform/com.h"

namespace qz381::so {

inline constexpr char kProgId[] = "VORNAQZ381.POSPrinter.ServiceObject.1.9";
inline constexpr char kClsidText[] = "{73CB53A0-3B85-4DF8-A28D-731B63BE43B7}";
extern const CLSID CLSID_POSPrinterSO;

void ServerLock();
void ServerUnlock();
long ServerLockCount();

}  // namespace qz381::so
