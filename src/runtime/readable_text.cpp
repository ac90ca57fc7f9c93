#include "runtime/readable_text.h"

#include <cstring>

#include "runtime/fault_guard.h"

namespace dovemarl::runtime {

// The host's record and the query library hand over addresses the module
// cannot vouch for; reading one that is not mapped would end the host's
// process. Both the measuring and the copying read under a structured-
// exception frame: a fault reading the foreign text ends the read, which then
// reports failure; a fault writing the module's own buffer is not the text's
// and is not hidden.
// Asking the system about the memory first (VirtualQuery) costs a call into
// the system per read and still leaves the text free to vanish between the
// answer and the copy. IsBadReadPtr is no substitute either: it leaves a guard
// page unguarded once it has touched it, which stops the stack of the thread
// that page guards from growing.

namespace {

struct Measuring {
    const char* text;
    size_t length;
};

struct Copying {
    char* out;
    const char* text;
    size_t length;
};

struct Reading {
    const char* text;
    char* out;
    size_t room;
    size_t length;
    bool ended;
};

// strlen and memcpy hold nothing and register no exception frame, so they may
// be cut short.
void Measure(void* context) {
    auto* job = static_cast<Measuring*>(context);
    job->length = std::strlen(job->text);
}

void Copy(void* context) {
    auto* job = static_cast<Copying*>(context);
    std::memcpy(job->out, job->text, job->length);
}

void ReadWithin(void* context) {
    auto* job = static_cast<Reading*>(context);
    const char* text = job->text;
    char* out = job->out;
    size_t room = job->room;
    for (size_t i = 0; i < room; ++i) {
        char c = text[i];
        out[i] = c;
        if (c == '\0') {
            job->length = i;
            job->ended = true;
            return;
        }
    }
}

} // namespace

bool MeasureReadableText(const char* text, size_t* length) {
    if (text == nullptr) {
        return false;
    }
    Measuring job = {text, 0};
    if (!RunGuarded(Measure, &job, text, UnboundedRead)) {
        return false;
    }
    *length = job.length;
    return true;
}

bool CopyReadableText(char* out, const char* text, size_t length) {
    if (length == 0) {
        return true;
    }
    Copying job = {};
    job.out = out;
    job.text = text;
    job.length = length;
    return RunGuarded(Copy, &job, text, length);
}

TextRead ReadTextWithin(const char* text, char* out, size_t room, size_t* length) {
    if (text == nullptr) {
        return TextRead::Unreadable;
    }
    Reading job = {};
    job.text = text;
    job.out = out;
    job.room = room;
    if (!RunGuarded(ReadWithin, &job, text, room)) {
        return TextRead::Unreadable;
    }
    if (!job.ended) {
        return TextRead::Longer;
    }
    *length = job.length;
    return TextRead::Read;
}

} // namespace dovemarl::runtime
