// Export parameters read through the host, and the frame encode that takes
// its settings from them.
#include "exporter/ExportParams.h"

#include "codec/FrameEncoder.h"
#include "exporter/ExportRender.h"
#include "exporter/ExporterLocalRec.h"

namespace keo::exporter {
namespace {

int readValue(exDoExportRec* record, const char* identifier, exParamValue* value) {
    if (!record || !record->privateData || !identifier)
        return kKEOExportBadArgument;
    const ExporterLocalRec* rec = static_cast<const ExporterLocalRec*>(record->privateData);
    if (!rec->exportParamSuite || !rec->exportParamSuite->GetParamValue)
        return kKEOExportBadArgument;
    exParamValues values{};
    const prSuiteError err =
        rec->exportParamSuite->GetParamValue(record->exporterPluginID, 0, identifier, &values);
    if (err != suiteError_NoError)
        return err;
    *value = values.value;
    return 0;
}

} // namespace

int readParamInt(exDoExportRec* record, const char* identifier, int32_t* value) {
    exParamValue v;
    const int err = readValue(record, identifier, &v);
    if (err == 0)
        *value = v.intValue;
    return err;
}

int readParamFloat(exDoExportRec* record, const char* identifier, double* value) {
    exParamValue v;
    const int err = readValue(record, identifier, &v);
    if (err == 0)
        *value = v.floatValue;
    return err;
}

int readParamTime(exDoExportRec* record, const char* identifier, PrTime* value) {
    exParamValue v;
    const int err = readValue(record, identifier, &v);
    if (err == 0)
        *value = v.timeValue;
    return err;
}

} // namespace keo::exporter

int CompressDXTFrame(unsigned char* source, unsigned char* destination, int width, int height,
                     int rowBytes, exDoExportRec* record) {
    using keo::exporter::readParamInt;
    int32_t transparency, optimizeFor, encodeThreads;
    if (readParamInt(record, "KEOTransparency", &transparency) != 0 ||
        readParamInt(record, "KEOOptimizeFor", &optimizeFor) != 0 ||
        readParamInt(record, "KEOEncodeThreads", &encodeThreads) != 0)
        return 0;
    return CompressDXTFrame(source, destination, width, height, rowBytes, transparency, optimizeFor,
                            encodeThreads);
}
