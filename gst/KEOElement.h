// What keodec and keoenc tell GStreamer about themselves in the same way:
// their two always-present pads and their metadata under one author, so the
// registry lists the pair consistently.
#pragma once

#include <gst/gst.h>

void KEODescribeElement(GstElementClass* elementClass, GstStaticPadTemplate* sink,
                        GstStaticPadTemplate* src, const char* longName, const char* classification,
                        const char* description);
