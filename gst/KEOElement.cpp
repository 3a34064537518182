#include "gst/KEOElement.h"

void KEODescribeElement(GstElementClass* elementClass, GstStaticPadTemplate* sink,
                        GstStaticPadTemplate* src, const char* longName, const char* classification,
                        const char* description) {
    if (sink)
        gst_element_class_add_static_pad_template(elementClass, sink);
    if (src)
        gst_element_class_add_static_pad_template(elementClass, src);
    gst_element_class_set_static_metadata(elementClass, longName, classification, description,
                                          "KEO developers");
}
