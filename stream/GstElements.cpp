#include "stream/GstElements.h"

#include <gst/gst.h>

bool startGStreamerWith(std::span<const GstElementNeed> needed, std::string& failure) {
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        failure = std::string("GStreamer does not start: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    for (const GstElementNeed& element : needed) {
        GstElementFactory* factory = gst_element_factory_find(element.name);
        if (!factory) {
            failure = std::string("GStreamer's ") + element.name +
                      " element is missing (install the Debian package " + element.package + ")";
            return false;
        }
        gst_object_unref(factory);
    }
    return true;
}
