// The "keo" GStreamer plug-in: registers keodec.

// The source module name that GST_PLUGIN_DEFINE records for the registry.
#define PACKAGE "keo"

#include <gst/gst.h>

#include "gst/KEODec.h"

static gboolean keoPluginInit(GstPlugin* plugin) {
    return GST_ELEMENT_REGISTER(keodec, plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, keo,
                  "KEO video: decodes the frames of KEO movies", keoPluginInit, "0.1",
                  "Proprietary", "KEO", "KEO")
