// The "keo" GStreamer plug-in: registers keodec, keoenc and keomux.

// The source module name that GST_PLUGIN_DEFINE records for the registry.
#define PACKAGE "keo"

#include <gst/gst.h>

#include "gst/KEODec.h"
#include "gst/KEOEnc.h"
#include "gst/KEOMux.h"

static gboolean keoPluginInit(GstPlugin* plugin) {
    gboolean registered = GST_ELEMENT_REGISTER(keodec, plugin);
    registered |= GST_ELEMENT_REGISTER(keoenc, plugin);
    registered |= GST_ELEMENT_REGISTER(keomux, plugin);
    return registered;
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, keo,
                  "KEO video: decodes the frames of KEO movies, encodes them and writes KEO movies",
                  keoPluginInit, "0.1", "Proprietary", "KEO", "KEO")
