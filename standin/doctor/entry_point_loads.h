#pragma once
// The DLLs loaded during the plug-in's load, told apart: those its import
// closure brought in (see import_closure.h) came by the loader's own work;
// any other was loaded by code that ran during the load, an entry point's:
// the plug-in's, or that of a DLL the load brought in (whose attach ran then
// too), all under the loader lock. Such a DLL is a fault whatever it is: its
// own attach runs under the lock as well, which can hang the host.
#include <set>
#include <string>
#include <vector>

#include "import_closure.h"
#include "load_notifications.h"
#include "resource_census.h"

namespace standin {

// fresh: the modules new after the load, the plug-in excepted. named: keys
// of the DLLs already named as imports (they are not named twice). Returns
// the faults, one per DLL at most.
std::vector<std::string> JudgeLoadedDuringAttach(const std::vector<ModuleEntry>& fresh,
                                                 const ImportClosure& closure,
                                                 const std::set<std::string>& named);

// freed: the DLLs loaded and freed again during the load (see
// load_notifications.h), which only an entry point can have done. One fault
// each.
std::vector<std::string> JudgeFreedDuringAttach(const std::vector<LoadNotice>& freed,
                                                const std::vector<ModuleEntry>& fresh,
                                                const ImportClosure& closure);

} // namespace standin
