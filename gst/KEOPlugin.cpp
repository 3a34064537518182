// The "keo" GStreamer plug-in: registers keodec and keoenc.

// The source module name that GST_PLUGIN_DEFINE records for the registry.
#define PACKAGE "keo"

#include <gst/gst.h>

#include "gst/KEODec.h"
#include "gst/KEOEnc.h"

static gboolean keoPluginInit(GstPlugin* plugin) {
    gboolean registered = GST_ELEMENT_REGISTER(keodec, plugin);
    registered |= GST_ELEMENT_REGISTER(keoenc, plugin);
    return registered;
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, keo,
                  "KEO video: decodes the frames of KEO movies, and encodes them", keoPluginInit,
                  "0.1", "Proprietary", "KEO", "KEO")
