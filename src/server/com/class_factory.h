// The class object of a map entry: makes instances through the entry's creator, refuses
// aggregation and keeps the module loaded while a container holds a server lock.
#pragma once

#include <windows.h>

namespace ruzazuv::com {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID, void**);

HRESULT createClassFactory(InstanceCreator createInstance, REFIID iid, void** out);

}  // namespace ruzazuv::com
