#include "lifecycle_checks.h"

#include "dll_risks.h"

namespace standin {

int RunCheck(const std::string& name, const CheckRequest& request, LifecycleLog& log) {
    log.ReportCrashes(BaseName(request.plugin));
    if (name == "attach") {
        return CheckAttach(request, log);
    }
    if (name == "load-cycles") {
        return CheckLoadCycles(request, log);
    }
    if (name == "run-unload") {
        return CheckRunAndUnload(request, log);
    }
    if (name == "run-cycles") {
        return CheckRunCycles(request, log);
    }
    return 1;
}

} // namespace standin
