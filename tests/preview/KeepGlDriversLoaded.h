#pragma once

#include <dlfcn.h>
#include <link.h>

#include <cstring>

// Mesa unloads its driver with the last display connection; what the driver's globals pointed to
// then looks leaked to LeakSanitizer, from a module no suppression can name. Marking the loaded
// drivers never-unload (RTLD_NOLOAD) keeps it reachable. Call it once GL has been used.
inline void keepGlDriversLoaded() {
    const auto keep = [](dl_phdr_info* info, size_t, void*) {
        if (info->dlpi_name && std::strstr(info->dlpi_name, "/dri/"))
            dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
    };
    dl_iterate_phdr(keep, nullptr);
}
