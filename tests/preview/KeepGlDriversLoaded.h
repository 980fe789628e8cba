#pragma once

#include <dlfcn.h>
#include <link.h>

#include <cstring>

// Mesa unloads its driver when the last display connection closes; the heap blocks that the
// driver's own globals still pointed to then look leaked to LeakSanitizer, from a module it can
// no longer name (so no suppression can match). Marking the loaded drivers never-unload keeps
// those blocks reachable. Call it while a GL context has been made, before the application ends.
inline void keepGlDriversLoaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "/dri/")) {
                // Only raises the flags of the object already loaded; the handle stays open.
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            }
            return 0;
        },
        nullptr);
}
