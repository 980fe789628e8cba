#pragma once

#include <dlfcn.h>
#include <link.h>

#include <cstring>

// Mesa unloads its driver with the last display connection; what the driver's globals pointed to
// then looks leaked to LeakSanitizer, from a module no suppression can name. Marking the drivers
// never-unload keeps it reachable. Call it once GL has been used, before the application ends.
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
