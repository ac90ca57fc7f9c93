#include "left_classes.h"

#include "dll_risks.h"

namespace standin {

ClassFinding JudgeLeftClass(const LeftClass& cls, const std::string& procedureModule,
                            bool windowInImage) {
    std::string name = "window class '" + cls.name + "' stays registered";
    if (cls.procedureInImage) {
        return {true, name + " with its procedure " + Hex(cls.procedure) +
                          " in the unloaded image: a window made of it crashes the host"};
    }
    name += " under the unloaded image's instance";
    bool system = !procedureModule.empty() && InSystemFolder(procedureModule);
    if (!system) {
        std::string where =
            procedureModule.empty() ? std::string("in no module") : "in " + procedureModule;
        return {true, name + ", its procedure " + Hex(cls.procedure) + " " + where +
                          ", not the system's: a window made of it runs whatever is at that "
                          "address once the plug-in is gone"};
    }
    if (windowInImage) {
        return {true, name + " with a window of it whose procedure lies in the unloaded image: "
                             "the class stays reachable from code that is gone"};
    }
    return {false, name + ", its procedure " + Hex(cls.procedure) + " the system's (in " +
                       BaseName(procedureModule) +
                       ") and no window of it in the image (harmless: nothing of it runs in the "
                       "unloaded image)"};
}

void ReportLeftClasses(WindowClasses& classes, const ImageRange& image, LifecycleLog& log,
                       const char* faultKind, bool notes) {
    std::vector<LeftClass> left = classes.StillRegistered();
    if (left.empty()) {
        return;
    }
    std::vector<WindowEntry> windows = Windows();
    for (const LeftClass& cls : left) {
        bool windowInImage = false;
        for (const WindowEntry& window : windows) {
            windowInImage = windowInImage ||
                            (window.className == cls.name && window.classInstance == cls.instance &&
                             image.Contains(window.procedure));
        }
        ClassFinding finding = JudgeLeftClass(cls, ModulePathAt(cls.procedure), windowInImage);
        if (finding.fault) {
            log.Line(faultKind, finding.text);
        } else if (notes) {
            log.Note(finding.text);
        }
    }
}

} // namespace standin
