#pragma once
// What a window class of the plug-in that stays registered after the unload
// means for the host, judged by one rule in every check: a class left under
// the unloaded image's instance is a fault, unless its procedure is the
// system's (it lies in a DLL of the system folder, as DefWindowProc does, to
// which a plug-in hands the classes of windows that outlive it) and no window
// of it has its procedure in the image. Then nothing of it can run code that
// is gone, and it is a note.
#include <string>
#include <vector>

#include "lifecycle_log.h"
#include "resource_census.h"
#include "window_classes.h"

namespace standin {

struct ClassFinding {
    bool fault = false; // otherwise a note
    std::string text;
};

// procedureModule: the path of the module that holds the class's procedure
// (empty for none); windowInImage: a window of the class still has its
// procedure in the unloaded image.
ClassFinding JudgeLeftClass(const LeftClass& cls, const std::string& procedureModule,
                            bool windowInImage);

// Judges the plug-in's classes still registered now, after the unload, and
// writes each fault as a line of faultKind ("fault", or "suspect" for a look
// right after the unload) and, with notes, each note.
void ReportLeftClasses(WindowClasses& classes, const ImageRange& image, LifecycleLog& log,
                       const char* faultKind, bool notes);

} // namespace standin
