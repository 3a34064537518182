// What the keo elements tell GStreamer about themselves in the same way:
// their always-present pads (null for none: keomux's sink pads are request
// pads it adds itself) and their metadata under one author, so the registry
// lists them consistently.
#pragma once

#include <gst/gst.h>

void KEODescribeElement(GstElementClass* elementClass, GstStaticPadTemplate* sink,
                        GstStaticPadTemplate* src, const char* longName, const char* classification,
                        const char* description);
